#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

struct ps_decoder_s;

namespace quiro::service {

// The recognizer models of this machine and a pool of ready decoders. Loading a pocketsphinx
// decoder reads the acoustic model, dictionary and language model (most of a second); its
// acoustic model cannot be shared between live decoders, so instead a decoder is loaded once
// and reused by one stream after another, each stream starting from the state the model gives
// (nothing one caller's audio taught the decoder reaches the next). Safe to use from any thread.
class SpeechModel {
public:
    static constexpr int sampleRate = 16000;
    // Decoders kept ready when no stream uses them; more are freed.
    static constexpr size_t maxIdleDecoders = 4;

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

    // A decoder for the language, from the pool or newly loaded, ready for a new stream; nullptr
    // with `error` set when the model cannot be loaded. Give it back with release().
    ps_decoder_s* acquire(const QString& language, QString* error);
    void release(const QString& language, ps_decoder_s* decoder);

    // Loads one decoder into the pool ahead of the first stream.
    bool warmUp(const QString& language, QString* error);

private:
    static void startClean(ps_decoder_s* decoder, const std::vector<float>& initialMean);

    QString m_modelRoot;
    QMutex m_mutex;
    std::map<QString, std::vector<ps_decoder_s*>> m_idle;
    // Per model folder, the cepstral mean a freshly loaded decoder starts with.
    std::map<QString, std::vector<float>> m_initialMean;
};

} // namespace quiro::service
