#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrlQuery>
#include <QWebSocket>

#include <atomic>
#include <memory>
#include <optional>

class QThread;
class QTimer;

namespace quiro::service {

class SpeechDecoder;
class SpeechModel;

// One "/stt" stream: binary PCM frames in, "Metadata", "Results" and "Error" JSON texts out.
// Lives on the server's thread; the recognition runs on a worker thread of its own.
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
    // Audio not yet decoded that a stream may have waiting (60 s); a client that sends faster
    // than the recognizer keeps up is stopped rather than allowed to fill memory.
    static constexpr qint64 defaultMaxQueuedBytes = 60 * 16000 * 2;

    struct Parameters {
        QString language;
        int sampleRate = 16000;
    };

    // The stream's parameters from the query, or the message that explains why they cannot be
    // served ("rate" other than 16000, a language without a model).
    static std::optional<Parameters> parameters(const QUrlQuery& query, const SpeechModel& model, QString* error);

    // Sends an "Error" message, then closes with `closeCode`; the socket deletes itself once closed.
    static void reject(std::unique_ptr<QWebSocket> socket, QObject* owner, const QString& message, quint16 closeCode);

    // A stream that sends no audio frame for `silenceTimeoutMs` is closed with 4408: it would
    // otherwise hold a decoder and a thread for nothing.
    SttSession(std::unique_ptr<QWebSocket> socket, SpeechModel& model, Parameters parameters, int silenceTimeoutMs,
               QObject* parent, qint64 maxQueuedBytes = defaultMaxQueuedBytes);
    ~SttSession() override;

    // Sends "Metadata" and starts the recognizer.
    void begin();

signals:
    // The stream is over (closed by either side); the session deletes itself afterwards.
    void ended();

private:
    void onBinary(const QByteArray& frame);
    void onText(const QString& text);
    void onUtterance(const QString& transcript);
    void onDecoderFinished();
    void onDecoderFailed(const QString& message);
    void closeStream();
    void closeWithError(const QString& message, quint16 closeCode);
    void sendJson(const QJsonObject& object);
    void end();

    QWebSocket* m_socket = nullptr; // owned (child)
    SpeechModel& m_model;
    Parameters m_parameters;
    QThread* m_thread = nullptr; // owned (child)
    // Lives on m_thread and is deleted only when that thread ends, in this object's destructor,
    // so the pointer stays valid for the session's whole life.
    SpeechDecoder* m_decoder = nullptr;
    std::shared_ptr<std::atomic<qint64>> m_queuedBytes;
    const qint64 m_maxQueuedBytes;
    QElapsedTimer m_age;
    QTimer* m_silence = nullptr; // child
    bool m_closing = false;
    bool m_ended = false;
};

} // namespace quiro::service
