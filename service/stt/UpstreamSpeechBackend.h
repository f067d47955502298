#pragma once

#include "service/stt/SpeechBackend.h"

#include <QStringList>
#include <QTimer>
#include <QUrl>

class QWebSocket;

namespace quiro::service {

// Where a hosted streaming recognizer is and how this service may use it.
struct SpeechUpstream {
    QUrl url;                                    // its live endpoint, ws:// or wss://
    QByteArray apiKey;                           // sent as "Authorization: Token KEY"; none when empty
    QStringList languages{QStringLiteral("en")}; // the languages streamed to it
    int connectTimeoutMs = 5'000;
};

// One stream relayed to a hosted recognizer that speaks the live protocol the app itself reads:
// binary linear16 audio up; "Results" (interim and final) down, passed on as they come, "Error"
// when it gives up; "CloseStream" to finish. Metadata of its own and anything else it sends stay
// here: the stream already announced itself.
class UpstreamSpeechBackend final : public SpeechBackend {
    Q_OBJECT

public:
    // Without audio for this long the upstream hears a "KeepAlive" (hosted recognizers close a
    // quiet stream after about ten seconds; this service waits longer for its client).
    static constexpr int keepAliveMs = 5'000;
    // After "CloseStream" the upstream's last results and close are awaited this long.
    static constexpr int drainTimeoutMs = 5'000;

    UpstreamSpeechBackend(const SpeechUpstream& upstream, QString language, int sampleRate, qint64 maxQueuedBytes,
                          QObject* parent);

    void start() override;
    bool feed(const QByteArray& pcm) override;
    void finish() override;
    QString name() const override;

    // The configured endpoint with the stream's audio format, rate, language and interim results
    // added (replacing any the operator wrote there).
    static QUrl streamUrl(const QUrl& endpoint, const QString& language, int sampleRate);

private:
    void onMessage(const QByteArray& utf8);
    void onClosed();
    // Says who failed and whether the stream had opened: the stream falls back only when not.
    void fail(const QString& reason);
    void sendText(const char* type);

    const SpeechUpstream m_upstream;
    const QString m_language;
    const int m_sampleRate;
    const qint64 m_maxQueuedBytes;
    QWebSocket* m_socket = nullptr; // child
    QTimer m_connectTimer;
    QTimer m_keepAlive;
    QTimer m_drain;
    bool m_open = false;
    bool m_finishing = false;
    bool m_done = false;
};

} // namespace quiro::service
