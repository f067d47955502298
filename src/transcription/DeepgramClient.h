#pragma once

#include "core/Config.h"
#include "transcription/TranscriptStream.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <optional>

class QWebSocket;

Q_DECLARE_LOGGING_CATEGORY(lcDeepgram)

namespace quiro {

// Streams one audio source to the service's "/stt" WebSocket and turns its messages into final
// transcripts. Lives on the GUI thread: the socket, the reconnect timer and every callback stay
// there. Only send() may be called from another thread (the capture's own thread).
//
// A dropped connection is retried every 2 seconds, for as long as the client is not stopped; a
// stream lasts as long as the call, so the socket has no overall time-out.
class DeepgramClient final : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultReconnectDelayMs = 2000;
    // Opening handshake only; an open stream never times out.
    static constexpr int connectTimeoutMs = 60'000;
    // Audio queued on a connection that does not move is dropped beyond this much.
    static constexpr int backlogLimitSeconds = 10;

    DeepgramClient(const Config& config, QString token, int sampleRate, QObject* parent = nullptr);
    ~DeepgramClient() override;

    void start();
    void stop();

    // Thread-safe. Counts the chunk and hands it to the GUI thread, where it goes out as one
    // binary message if a connection is open; otherwise it is dropped (never buffered). The
    // capture must have stopped calling send() before the client is destroyed.
    void send(QByteArray chunk);

    // Chunks handed to send() since the last connect (or construction).
    qint64 chunksSent() const { return m_chunksSent.load(std::memory_order_relaxed); }

    // Called on the GUI thread. A callback must not delete the client directly (the socket is
    // still inside its own signal); use deleteLater().
    void onConnected(std::function<void()> callback) { m_onConnected = std::move(callback); }
    void onDisconnected(std::function<void()> callback) { m_onDisconnected = std::move(callback); }
    void onFinalTranscript(std::function<void(const QString&)> callback) { m_onFinalTranscript = std::move(callback); }

    // Final transcripts, each paired with Speaker::manager. Created on the first call; transcripts
    // before that are not kept. Finished by stop() or destruction and never recreated.
    TranscriptStream transcripts();

    // Reconnection waits this long after a lost connection; tests shorten it.
    void setReconnectDelayMs(int delayMs) { m_reconnectTimer.setInterval(delayMs); }

    // The URL the client connects to; absent when the base cannot make one.
    std::optional<QUrl> streamUrl() const;

private:
    void connectSocket();
    void dropSocket();
    void handleMessage(const QString& text);
    void handleResults(const QJsonObject& message);
    void handleFailure(QWebSocket* socket, const QString& description);
    void sendOnSocket(const QByteArray& chunk);
    qint64 backlogLimitBytes() const;

    const QString m_wsBase;
    const QString m_token;
    const QString m_language;
    const int m_sampleRate;

    QPointer<QWebSocket> m_socket;
    QTimer m_reconnectTimer;
    QTimer m_connectTimer;
    bool m_stopped = false;
    bool m_stalled = false;
    std::atomic<qint64> m_chunksSent{0};

    std::function<void()> m_onConnected;
    std::function<void()> m_onDisconnected;
    std::function<void(const QString&)> m_onFinalTranscript;
    std::optional<TranscriptStream> m_transcripts;
};

} // namespace quiro
