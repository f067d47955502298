#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrlQuery>
#include <QWebSocket>

#include <memory>
#include <optional>

class QTimer;

namespace quiro::service {

class SpeechBackend;
class SpeechService;

// One "/stt" stream: binary PCM frames in, "Metadata", "Results" and "Error" JSON texts out. Lives
// on the server's thread and talks to one recognizer (SpeechBackend) at a time: the one the speech
// service opens for its language, or pocketsphinx when that one cannot be reached at the start.
class SttSession : public QObject {
    Q_OBJECT

public:
    // Close codes beyond the standard ones.
    static constexpr quint16 closeUnauthorized = 4401;
    static constexpr quint16 closeForbidden = 4403;
    static constexpr quint16 closeTooManyStreams = 4429;
    // No audio arrived for the silence timeout (like HTTP's 408).
    static constexpr quint16 closeSilent = 4408;
    // The service runs as many streams as it can take (HTTP 503 analogue; Qt rejects 1013).
    static constexpr quint16 closeServiceFull = 4503;
    // 1011: the server met a condition that keeps it from serving the stream.
    static constexpr quint16 closeRecognizerFailed = 1011;
    // Audio not yet recognized that a stream may have waiting (60 s); a client that sends faster
    // than the recognizer keeps up is stopped rather than allowed to fill memory.
    static constexpr qint64 defaultMaxQueuedBytes = 60 * 16000 * 2;

    struct Parameters {
        QString language;
        int sampleRate = 16000;
    };

    // The stream's parameters from the query, or the message that explains why they cannot be
    // served ("rate" other than 16000, a language no recognizer here takes).
    static std::optional<Parameters> parameters(const QUrlQuery& query, const SpeechService& speech, QString* error);

    // Sends an "Error" message, then closes with `closeCode`; the socket deletes itself once closed.
    static void reject(std::unique_ptr<QWebSocket> socket, QObject* owner, const QString& message, quint16 closeCode);

    // A stream that sends no audio frame for `silenceTimeoutMs` is closed with 4408: it would
    // otherwise hold a recognizer for nothing.
    SttSession(std::unique_ptr<QWebSocket> socket, SpeechService& speech, Parameters parameters, int silenceTimeoutMs,
               QObject* parent, qint64 maxQueuedBytes = defaultMaxQueuedBytes);

    // Starts the recognizer; "Metadata" follows once it is ready.
    void begin();

signals:
    // The stream is over (closed by either side); the session deletes itself afterwards.
    void ended();

private:
    void use(SpeechBackend* backend);
    void onReady();
    void onFailed(const QString& message);
    void onBinary(const QByteArray& frame);
    void onText(const QString& text);
    void feed(const QByteArray& audio);
    void closeStream();
    void closeWithError(const QString& message, quint16 closeCode);
    void sendJson(const QJsonObject& object);
    void end();

    QWebSocket* m_socket = nullptr; // owned (child)
    SpeechService& m_speech;
    Parameters m_parameters;
    const qint64 m_maxQueuedBytes;
    SpeechBackend* m_backend = nullptr; // child
    bool m_ready = false;
    bool m_fellBack = false;
    // Audio that arrived while the recognizer was still connecting, handed over once it is ready.
    QList<QByteArray> m_waiting;
    qint64 m_waitingBytes = 0;
    QElapsedTimer m_age;
    QTimer* m_silence = nullptr; // child
    bool m_closing = false;
    bool m_ended = false;
};

} // namespace quiro::service
