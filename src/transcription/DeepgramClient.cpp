#include "transcription/DeepgramClient.h"

#include "core/ExternalService.h"
#include "transcription/SttMessage.h"

#include <QSslConfiguration>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>

// Debug lines carry what the user said: off unless asked for (QT_LOGGING_RULES="quiro.app.deepgram.debug=true").
Q_LOGGING_CATEGORY(lcDeepgram, "quiro.app.deepgram", QtInfoMsg)

namespace quiro {

namespace {

// A closing socket gets this long to say goodbye to the server before it is cut.
constexpr int closeGraceMs = 5000;

// Close codes the service gives a stream it will not serve. 4401 (bad token) ends the retries and
// the sign-in; 1003 (unsupported language or rate), 1008 (unknown path) and 4403 (a web page's
// origin) cannot get better by retrying either. Anything else may pass (too many streams, an
// overloaded recognizer) and is retried.
constexpr int closeUnauthorized = 4401;
constexpr int closeForbidden = 4403;

const QByteArray closeStreamMessage = QByteArrayLiteral("{\"type\":\"CloseStream\"}");

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

DeepgramClient::DeepgramClient(const Config& config, QString token, int sampleRate, QObject* parent)
    : QObject(parent)
    , m_wsBase(config.wsBase())
    , m_token(std::move(token))
    , m_language(config.language)
    , m_sampleRate(sampleRate)
{
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (!m_stopped)
            connectSocket();
    });
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(connectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] { handleFailure(m_socket); });
    m_drainTimer.setSingleShot(true);
    m_drainTimer.setInterval(defaultDrainTimeoutMs);
    connect(&m_drainTimer, &QTimer::timeout, this, &DeepgramClient::finishDrain);
}

DeepgramClient::~DeepgramClient()
{
    // The socket dies with us and may report its own end on the way: nobody is listening any more.
    if (QWebSocket* socket = m_socket.data()) {
        disconnect(socket, nullptr, this, nullptr);
        // Destroyed while draining: the service still learns that the stream ended on purpose.
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    }
    // A consumer still waiting on the stream must end rather than wait forever.
    if (m_transcripts)
        m_transcripts->finish();
}

TranscriptStream DeepgramClient::transcripts()
{
    if (!m_transcripts)
        m_transcripts.emplace();
    return *m_transcripts;
}

std::optional<QUrl> DeepgramClient::streamUrl() const
{
    auto url = ExternalService::endpoint(m_wsBase, ExternalService::Path::stt);
    if (!url || (url->scheme() != QLatin1String("ws") && url->scheme() != QLatin1String("wss")))
        return std::nullopt;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("lang"), m_language);
    query.addQueryItem(QStringLiteral("rate"), QString::number(m_sampleRate));
    url->setQuery(query);
    return url;
}

void DeepgramClient::start()
{
    // A start after a stop abandons that stop's drain.
    m_drainTimer.stop();
    m_stopped = false;
    m_drained = false;
    m_failedAttempts = 0;
    connectSocket();
}

void DeepgramClient::connectSocket()
{
    m_reconnectTimer.stop();
    dropSocket();

    const auto url = streamUrl();
    if (!url) {
        qCCritical(lcDeepgram, "Cannot build WebSocket URL from base: %s", qUtf8Printable(m_wsBase));
        // Reported from the event loop: the caller of start() is not re-entered.
        QMetaObject::invokeMethod(
            this,
            [this] {
                report({StreamTrouble::Kind::unusable,
                        QStringLiteral("the service address \"%1\" is not an http:// or https:// URL").arg(m_wsBase),
                        -1});
            },
            Qt::QueuedConnection);
        return;
    }

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    m_opened = false;
    m_announced = false;
    m_serverError.clear();
    // Every handler checks that its socket is still the current one, and a replaced socket is
    // disconnected from us before anything else: a late message from an old connection must never
    // deliver a transcript a second time.
    connect(socket, &QWebSocket::connected, this, [this, socket] {
        if (socket != m_socket)
            return;
        m_connectTimer.stop();
        m_opened = true;
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
        if (socket == m_socket)
            handleMessage(text.toUtf8());
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray& bytes) {
        if (socket == m_socket)
            handleMessage(bytes);
    });
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            [this, socket](QAbstractSocket::SocketError) { handleFailure(socket); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { handleFailure(socket); });

    const QNetworkRequest request = ExternalService::request(*url, m_token);
    // QWebSocket takes its TLS settings from the socket, not from the request: without this the
    // local service's own certificate is not trusted on wss://.
    if (url->scheme() == QLatin1String("wss"))
        socket->setSslConfiguration(request.sslConfiguration());
    m_chunksSent.store(0, std::memory_order_relaxed);
    qCInfo(lcDeepgram, "Connecting — lang=%s sr=%ld", qUtf8Printable(m_language), long(m_sampleRate));
    m_connectTimer.start();
    // May fail at once, which already schedules the next attempt.
    socket->open(request);
}

qint64 DeepgramClient::backlogLimitBytes() const
{
    return qint64(std::max(m_sampleRate, 1)) * qint64(sizeof(qint16)) * backlogLimitSeconds;
}

void DeepgramClient::dropSocket()
{
    m_connectTimer.stop();
    m_stalled = false;
    QWebSocket* socket = m_socket.data();
    m_socket = nullptr;
    if (!socket)
        return;
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}

StreamTrouble DeepgramClient::classify(QWebSocket* socket) const
{
    using Kind = StreamTrouble::Kind;
    if (!m_opened) {
        // Refused, unknown host, TLS failure, or no answer: Qt's own words say which. The close
        // code of a socket that never opened means nothing.
        const bool timedOut = !m_connectTimer.isActive() && socket->error() == QAbstractSocket::UnknownSocketError;
        return {Kind::unreachable,
                timedOut ? QStringLiteral("no answer within %1 s").arg(connectTimeoutMs / 1000) : socket->errorString(),
                0};
    }
    // The service's own words first; a socket that went without a close frame reports 1000.
    const int code = int(socket->closeCode());
    QString detail = m_serverError;
    if (detail.isEmpty())
        detail = socket->closeReason();
    if (detail.isEmpty() && code != QWebSocketProtocol::CloseCodeNormal)
        detail = QStringLiteral("connection closed (code %1)").arg(code);
    if (detail.isEmpty())
        detail = socket->error() == QAbstractSocket::UnknownSocketError ? QStringLiteral("connection closed")
                                                                        : socket->errorString();
    if (m_announced)
        return {Kind::dropped, detail, 0};
    if (code == closeUnauthorized)
        return {Kind::unauthorized, detail, -1};
    if (code == QWebSocketProtocol::CloseCodeDatatypeNotSupported ||
        code == QWebSocketProtocol::CloseCodePolicyViolated || code == closeForbidden)
        return {Kind::unusable, detail, -1};
    return {Kind::refused, detail, 0};
}

void DeepgramClient::handleFailure(QWebSocket* socket)
{
    if (!socket || socket != m_socket)
        return;
    if (m_stopped) {
        // The service closed the stream after its last results: the drain is complete.
        finishDrain();
        return;
    }
    StreamTrouble trouble = classify(socket);
    qCCritical(lcDeepgram, "Receive error: %s", qUtf8Printable(trouble.detail));
    dropSocket();
    if (!trouble.isFinal()) {
        // A connection that worked is retried after the usual pause; one that never got going is
        // given more time after each failure, so a service that is down is not hammered.
        if (trouble.kind == StreamTrouble::Kind::dropped)
            m_failedAttempts = 0;
        const int doublings = std::min(m_failedAttempts, 15);
        trouble.retryInMs = int(std::min<qint64>(qint64(m_reconnectDelayMs) << doublings, maxReconnectDelayMs));
        ++m_failedAttempts;
        qCInfo(lcDeepgram, "Reconnecting in %ss…", qUtf8Printable(seconds(trouble.retryInMs)));
    }
    report(std::move(trouble));
}

void DeepgramClient::report(StreamTrouble trouble)
{
    if (m_stopped)
        return;
    const QPointer<DeepgramClient> self(this);
    if (m_onDisconnected)
        m_onDisconnected(trouble);
    // The callback may have stopped or restarted the client itself.
    if (self && !m_stopped && !m_socket && !trouble.isFinal())
        m_reconnectTimer.start(trouble.retryInMs);
}

void DeepgramClient::send(QByteArray chunk)
{
    const qint64 count = m_chunksSent.fetch_add(1, std::memory_order_relaxed) + 1;
    if (count == 1)
        qCDebug(lcDeepgram, "First audio chunk sent (%ld bytes)", long(chunk.size()));
    else if (count == 10)
        qCDebug(lcDeepgram, "10 chunks sent — waiting for speech…");
    // The socket belongs to this object's thread; the chunk travels there by value, so start, stop
    // and reconnects (which run on that thread) never race with the capture thread.
    QMetaObject::invokeMethod(
        this, [this, chunk = std::move(chunk)] { sendOnSocket(chunk); }, Qt::QueuedConnection);
}

void DeepgramClient::sendOnSocket(const QByteArray& chunk)
{
    // While the handshake is still running there is no stream to carry the audio yet, and once the
    // stream is closing the service must not get more: drop it.
    if (m_stopped || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    // A connection that stopped moving (the peer no longer reads, the network hangs before TCP
    // gives up) would otherwise queue the whole call in memory. Beyond a few seconds of backlog
    // the audio is dropped, like audio sent while disconnected, with one line per stall.
    // The stall ends once half the backlog has gone, so a connection hovering at the limit does
    // not log on every chunk.
    const qint64 backlog = m_socket->bytesToWrite();
    if (backlog > backlogLimitBytes() || (m_stalled && backlog > backlogLimitBytes() / 2)) {
        if (!m_stalled)
            qCCritical(lcDeepgram, "send error: %s", "connection stalled; audio dropped until it moves again");
        m_stalled = true;
        return;
    }
    m_stalled = false;
    const qint64 written = m_socket->sendBinaryMessage(chunk);
    if (written < chunk.size())
        qCCritical(lcDeepgram, "send error: %s", qUtf8Printable(m_socket->errorString()));
}

void DeepgramClient::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_reconnectTimer.stop();
    m_connectTimer.stop();
    qCInfo(lcDeepgram, "Stopped. Chunks sent: %ld", long(chunksSent()));
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        // The service answers "CloseStream" with the results of the audio it still holds and then
        // closes; until then (or the drain time-out) the socket is read as before.
        m_socket->sendBinaryMessage(closeStreamMessage);
        m_drainTimer.start();
        return;
    }
    dropSocket();
    QMetaObject::invokeMethod(this, &DeepgramClient::finishDrain, Qt::QueuedConnection);
}

void DeepgramClient::finishDrain()
{
    if (m_drained)
        return;
    m_drained = true;
    m_drainTimer.stop();
    if (QWebSocket* socket = m_socket.data()) {
        m_socket = nullptr;
        disconnect(socket, nullptr, this, nullptr);
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->close(QWebSocketProtocol::CloseCodeGoingAway);
            // Let the close handshake finish, but not forever.
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(closeGraceMs, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
    if (m_transcripts)
        m_transcripts->finish();
    if (m_onDrained)
        m_onDrained();
}

void DeepgramClient::handleMessage(const QByteArray& utf8)
{
    const SttMessage message = SttMessage::parse(utf8);
    switch (message.kind) {
    case SttMessage::Kind::metadata:
        qCInfo(lcDeepgram, "✅ Metadata received — audio pipeline working");
        m_announced = true;
        m_failedAttempts = 0;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_onConnected && !m_stopped)
                    m_onConnected();
            },
            Qt::QueuedConnection);
        return;
    case SttMessage::Kind::finalTranscript:
        qCDebug(lcDeepgram, "🎤 '%s'", qUtf8Printable(message.text));
        if (m_transcripts)
            m_transcripts->push({Speaker::manager, message.text});
        if (m_onFinalTranscript)
            m_onFinalTranscript(message.text);
        return;
    case SttMessage::Kind::error:
        m_serverError = message.text;
        qCCritical(lcDeepgram, "Server error: %s", qUtf8Printable(m_serverError));
        return;
    case SttMessage::Kind::other:
        return;
    }
}

} // namespace quiro
