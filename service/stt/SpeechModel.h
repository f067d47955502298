#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

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

    // The most decoders kept loaded per language, in use or waiting for a stream (4 unless set).
    // A decoder given back beyond it is freed and the memory returned to the system.
    void setPoolSize(size_t decoders);

    // A decoder for the language, from the pool or newly loaded, ready for a new stream; nullptr
    // with `error` set when the model cannot be loaded. Give it back with release().
    ps_decoder_s* acquire(const QString& language, QString* error);
    void release(const QString& language, ps_decoder_s* decoder);

    // Loads decoders into the pool, one at a time, until `decoders` of the language are loaded
    // (counting those streams hold; never beyond the pool size) or `stop` is set. False with
    // `error` set when a load failed.
    bool warmUp(const QString& language, size_t decoders, const std::atomic<bool>& stop, QString* error);

    // Decoders of the language loaded and waiting for a stream.
    size_t idleDecoders(const QString& language) const;

private:
    struct Pool {
        std::vector<ps_decoder_s*> idle;
        size_t inUse = 0;   // by streams, counting those they are loading
        size_t warming = 0; // being loaded by warmUp()
    };

    // modelFolderFor(), with `error` set when there is none.
    QString folderFor(const QString& language, QString* error) const;
    ps_decoder_s* load(const QString& folder, QString* error);
    static void startClean(ps_decoder_s* decoder, const std::vector<float>& initialMean);
    static void unload(ps_decoder_s* decoder);

    QString m_modelRoot;
    mutable QMutex m_mutex;
    size_t m_poolSize = 4;
    std::map<QString, Pool> m_pools; // by model folder
    // Per model folder, the cepstral mean a freshly loaded decoder starts with.
    std::map<QString, std::vector<float>> m_initialMean;
};

} // namespace quiro::service
