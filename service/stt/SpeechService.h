#pragma once

#include "service/stt/UpstreamSpeechBackend.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>

namespace quiro::service {

class SpeechBackend;
class SpeechModel;

// The recognizers behind "/stt": a hosted streaming recognizer for the languages it is configured
// for, and pocketsphinx on this machine for the others and whenever the hosted one cannot be
// reached as a stream opens. Lives on the server's thread; counts for "/health".
class SpeechService {
public:
    explicit SpeechService(SpeechModel& model, std::optional<SpeechUpstream> upstream = std::nullopt);

    // Every language a stream may ask for, sorted.
    QStringList languages() const;
    bool serves(const QString& language) const;
    // Whether streams in the language go to the hosted recognizer first.
    bool relays(const QString& language) const;

    // The recognizer a new stream starts with (a child of `parent`); nullptr when none serves the
    // language. `maxQueuedBytes`: the audio it may have waiting.
    SpeechBackend* open(const QString& language, qint64 maxQueuedBytes, QObject* parent);
    // The recognizer that takes over when the first could not start, or nullptr when there is
    // none; counted and logged with `problem`.
    SpeechBackend* fallback(const QString& language, qint64 maxQueuedBytes, const QString& problem, QObject* parent);

    QJsonObject status() const;

private:
    bool localModelFor(const QString& language) const;

    SpeechModel& m_model;
    const std::optional<SpeechUpstream> m_upstream;
    int m_relayed = 0;
    int m_fallbacks = 0;
    QString m_lastFallback;
};

} // namespace quiro::service
