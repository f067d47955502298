#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <map>
#include <vector>

struct ps_decoder_s;

namespace quiro::service {

// The recognizer models of this machine and a pool of ready decoders. Loading a pocketsphinx
// decoder reads the acoustic model, dictionary and language model (most of a second of a core and
// about 90 MB); its acoustic model cannot be shared between live decoders, so instead a decoder is
// loaded once and reused by one stream after another, each stream starting from the state the
// model gives (nothing one caller's audio taught the decoder reaches the next). Safe to use from
// any thread.
class SpeechModel {
public:
    static constexpr int sampleRate = 16000;

    // `modelRoot` holds one folder per language model (Debian: .../pocketsphinx/model/en-us).
    explicit SpeechModel(QString modelRoot = defaultModelRoot());
    ~SpeechModel();
    SpeechModel(const SpeechModel&) = delete;
    SpeechModel& operator=(const SpeechModel&) = delete;

    static QString defaultModelRoot();

    // Languages with a complete model here, e.g. ["en"].
    QStringList languages() const;
    // The model folder for a requested language ("en", "en-US", "en_us"), or "" when none.
    QString modelFolderFor(const QString& language) const;

    // How many decoders of a language wait loaded for the next streams (`waiting`: 2 unless set,
    // the two sides of one call), and the most a language has loaded, in use or waiting
    // (`mostLoaded`: the service's stream cap). A decoder given back beyond those waiting is freed
    // and its memory returned to the system.
    void setDecodersAhead(size_t waiting, size_t mostLoaded);

    // A decoder for the language, from the pool or newly loaded, ready for a new stream; nullptr
    // with `error` set when the model cannot be loaded. Give it back with release().
    ps_decoder_s* acquire(const QString& language, QString* error);
    void release(const QString& language, ps_decoder_s* decoder);

    enum class LoadAhead { loaded, notNeeded, failed };
    // Loads one decoder into the language's pool when fewer than the decoders ahead wait for a
    // stream and the pool has room for it; `error` says why when the load failed.
    LoadAhead loadAhead(const QString& language, QString* error);
    // Blocks until the language needs a decoder loaded ahead (a stream took one) or `stop` is set;
    // whoever sets `stop` calls wakeWaiters() after.
    void waitForDemand(const QString& language, const std::atomic<bool>& stop);
    void wakeWaiters();

    // Decoders of the language loaded and waiting for a stream.
    size_t idleDecoders(const QString& language) const;

private:
    struct Pool {
        std::vector<ps_decoder_s*> idle;
        size_t inUse = 0;   // by streams, counting those they are loading
        size_t warming = 0; // being loaded by loadAhead()
    };

    // Whether the pool should load one more decoder ahead now. Called with the mutex held.
    bool wantsOneMore(const Pool& pool) const;

    // modelFolderFor(), with `error` set when there is none.
    QString folderFor(const QString& language, QString* error) const;
    ps_decoder_s* load(const QString& folder, QString* error);
    static void startClean(ps_decoder_s* decoder, const std::vector<float>& initialMean);
    static void unload(ps_decoder_s* decoder);

    QString m_modelRoot;
    mutable QMutex m_mutex;
    QWaitCondition m_demand; // a stream took a decoder
    size_t m_waiting = 2;
    size_t m_mostLoaded = 8;
    std::map<QString, Pool> m_pools; // by model folder
    // Per model folder, the cepstral mean a freshly loaded decoder starts with.
    std::map<QString, std::vector<float>> m_initialMean;
};

} // namespace quiro::service
