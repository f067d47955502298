#pragma once

#include "core/Config.h"
#include "transcription/Transcriber.h"
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
// transcripts. Lives on the GUI thread: the socket, the timers and every callback stay there. Only
// send() may be called from another thread (the capture's own thread).
//
// A dropped connection is retried after 2 seconds; a service that cannot be reached, or that
// refuses the stream, is retried with a growing pause (2, 4, 8 … at most 30 s). A refused token
// and errors that retrying cannot fix (a bad address, an unknown language) end the retries and are
// reported as final. A stream lasts as long as the call, so the socket has no overall time-out.
class DeepgramClient final : public QObject, public Transcriber {
    Q_OBJECT
public:
    static constexpr int defaultReconnectDelayMs = 2000;
    static constexpr int maxReconnectDelayMs = 30'000;
    // After "CloseStream" the last results are awaited this long before the stream is cut.
    static constexpr int defaultDrainTimeoutMs = 2000;
    // Opening handshake only; an open stream never times out.
    static constexpr int connectTimeoutMs = 60'000;
    // Audio queued on a connection that does not move is dropped beyond this much.
    static constexpr int backlogLimitSeconds = 10;

    DeepgramClient(const Config& config, QString token, int sampleRate, QObject* parent = nullptr);
    ~DeepgramClient() override;

    void start() override;
    void stop() override;

    // Counts the chunk and hands it to the GUI thread, where it goes out as one binary message if
    // a connection is open; otherwise it is dropped (never buffered). The capture must have stopped
    // calling send() before the client is destroyed.
    void send(QByteArray chunk) override;

    // Chunks handed to send() since the last connect (or construction).
    qint64 chunksSent() const { return m_chunksSent.load(std::memory_order_relaxed); }

    // Called on the GUI thread. A callback must not delete the client directly (the socket is
    // still inside its own signal); use deleteLater().
    void onConnected(std::function<void()> callback) override { m_onConnected = std::move(callback); }
    void onDisconnected(std::function<void(const StreamTrouble&)> callback) override
    {
        m_onDisconnected = std::move(callback);
    }
    void onFinalTranscript(std::function<void(const QString&)> callback) override
    {
        m_onFinalTranscript = std::move(callback);
    }
    void onDrained(std::function<void()> callback) override { m_onDrained = std::move(callback); }

    // Final transcripts, each paired with Speaker::manager. Created on the first call; transcripts
    // before that are not kept. Finished once the stream has drained after stop(), or on
    // destruction, and never recreated.
    TranscriptStream transcripts() override;

    // The first pause before reconnecting, doubled after each failed attempt; tests shorten it.
    void setReconnectDelayMs(int delayMs) { m_reconnectDelayMs = delayMs; }
    void setDrainTimeoutMs(int timeoutMs) { m_drainTimer.setInterval(timeoutMs); }

    // The URL the client connects to; absent when the base cannot make a ws:// or wss:// one.
    std::optional<QUrl> streamUrl() const;

private:
    void connectSocket();
    void dropSocket();
    void handleMessage(const QByteArray& utf8);
    void handleFailure(QWebSocket* socket);
    StreamTrouble classify(QWebSocket* socket) const;
    void report(StreamTrouble trouble);
    void finishDrain();
    void sendOnSocket(const QByteArray& chunk);
    qint64 backlogLimitBytes() const;

    const QString m_wsBase;
    const QString m_token;
    const QString m_language;
    const int m_sampleRate;

    QPointer<QWebSocket> m_socket;
    QTimer m_reconnectTimer;
    QTimer m_connectTimer;
    QTimer m_drainTimer;
    int m_reconnectDelayMs = defaultReconnectDelayMs;
    int m_failedAttempts = 0; // since the service last announced a stream
    bool m_opened = false;    // the current socket finished its handshake
    bool m_announced = false; // the current socket received "Metadata"
    QString m_serverError;    // the last "Error" message on the current socket
    bool m_stopped = false;
    bool m_drained = false;
    bool m_stalled = false;
    std::atomic<qint64> m_chunksSent{0};

    std::function<void()> m_onConnected;
    std::function<void(const StreamTrouble&)> m_onDisconnected;
    std::function<void(const QString&)> m_onFinalTranscript;
    std::function<void()> m_onDrained;
    std::optional<TranscriptStream> m_transcripts;
};

} // namespace quiro
