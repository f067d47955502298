#include "transcription/DeepgramClient.h"

#include "core/ExternalService.h"
#include "core/Json.h"
#include "core/Text.h"

#include <QJsonArray>
#include <QJsonObject>
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

const QByteArray closeStreamMessage = QByteArrayLiteral("{\"type\":\"CloseStream\"}");

} // namespace

DeepgramClient::DeepgramClient(const Config& config, QString token, int sampleRate, QObject* parent)
    : QObject(parent)
    , m_wsBase(config.wsBase())
    , m_token(std::move(token))
    , m_language(config.language)
    , m_sampleRate(sampleRate)
{
    m_reconnectTimer.setSingleShot(true);
    m_reconnectTimer.setInterval(defaultReconnectDelayMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (!m_stopped)
            connectSocket();
    });
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(connectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this,
            [this] { handleFailure(m_socket, QStringLiteral("Opening handshake timed out")); });
}

DeepgramClient::~DeepgramClient()
{
    // The socket dies with us and may report its own end on the way: nobody is listening any more.
    if (m_socket)
        disconnect(m_socket, nullptr, this, nullptr);
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
    if (!url)
        return std::nullopt;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("lang"), m_language);
    query.addQueryItem(QStringLiteral("rate"), QString::number(m_sampleRate));
    url->setQuery(query);
    return url;
}

void DeepgramClient::start()
{
    m_stopped = false;
    connectSocket();
}

void DeepgramClient::connectSocket()
{
    m_reconnectTimer.stop();
    dropSocket();

    const auto url = streamUrl();
    if (!url) {
        qCCritical(lcDeepgram, "Cannot build WebSocket URL from base: %s", qUtf8Printable(m_wsBase));
        return;
    }

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    // Every handler checks that its socket is still the current one, and a replaced socket is
    // disconnected from us before anything else: a late message from an old connection must never
    // deliver a transcript a second time.
    connect(socket, &QWebSocket::connected, this, [this, socket] {
        if (socket == m_socket)
            m_connectTimer.stop();
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
        if (socket == m_socket)
            handleMessage(text);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray& bytes) {
        if (socket == m_socket)
            handleMessage(QString::fromUtf8(bytes));
    });
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            [this, socket](QAbstractSocket::SocketError) { handleFailure(socket, socket->errorString()); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        const QString reason = socket->closeReason();
        handleFailure(socket, reason.isEmpty() ? QStringLiteral("Connection closed (code %1)").arg(socket->closeCode())
                                               : reason);
    });

    const QNetworkRequest request = ExternalService::request(*url, m_token);
    // QWebSocket takes its TLS settings from the socket, not from the request: without this the
    // local service's own certificate is not trusted on wss://.
    if (url->scheme() == QLatin1String("wss"))
        socket->setSslConfiguration(request.sslConfiguration());
    m_chunksSent.store(0, std::memory_order_relaxed);
    qCInfo(lcDeepgram, "Connecting — lang=%s sr=%ld", qUtf8Printable(m_language), long(m_sampleRate));
    m_connectTimer.start();
    // May fail at once (an unsupported scheme, say), which already schedules the next attempt.
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

void DeepgramClient::handleFailure(QWebSocket* socket, const QString& description)
{
    if (!socket || socket != m_socket)
        return;
    qCCritical(lcDeepgram, "Receive error: %s", qUtf8Printable(description));
    dropSocket();
    if (m_stopped) {
        if (m_transcripts)
            m_transcripts->finish();
        return;
    }
    qCInfo(lcDeepgram, "Reconnecting in 2s…");
    const QPointer<DeepgramClient> self(this);
    if (m_onDisconnected)
        m_onDisconnected();
    // The callback may have stopped or restarted the client itself.
    if (self && !m_stopped && !m_socket)
        m_reconnectTimer.start();
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
    // While the handshake is still running there is no stream to carry the audio yet: drop it.
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
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
    m_stopped = true;
    m_reconnectTimer.stop();
    m_connectTimer.stop();
    if (QWebSocket* socket = m_socket.data()) {
        m_socket = nullptr;
        disconnect(socket, nullptr, this, nullptr);
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->sendBinaryMessage(closeStreamMessage);
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
    qCInfo(lcDeepgram, "Stopped. Chunks sent: %ld", long(chunksSent()));
}

void DeepgramClient::handleMessage(const QString& text)
{
    const auto message = Json::parseObject(text.toUtf8());
    if (!message)
        return;
    const QJsonValue type = message->value(QLatin1String("type"));
    if (type == QLatin1String("Metadata")) {
        qCInfo(lcDeepgram, "✅ Metadata received — audio pipeline working");
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_onConnected)
                    m_onConnected();
            },
            Qt::QueuedConnection);
    } else if (type == QLatin1String("Results")) {
        handleResults(*message);
    } else if (type == QLatin1String("Error")) {
        const auto serverMessage = Json::string(*message, QStringLiteral("message"));
        qCCritical(lcDeepgram, "Server error: %s", qUtf8Printable(serverMessage ? *serverMessage : text));
    }
}

void DeepgramClient::handleResults(const QJsonObject& message)
{
    const QJsonValue isFinal = message.value(QLatin1String("is_final"));
    if (!isFinal.isBool() || !isFinal.toBool())
        return;
    const auto channel = Json::object(message, QStringLiteral("channel"));
    if (!channel)
        return;
    const QJsonArray alternatives = channel->value(QLatin1String("alternatives")).toArray();
    if (alternatives.isEmpty() || !alternatives.first().isObject())
        return;
    const auto transcript = Json::string(alternatives.first().toObject(), QStringLiteral("transcript"));
    if (!transcript)
        return;
    const QString text = Text::trimmedBlanksAndTabs(*transcript);
    if (text.isEmpty())
        return;
    qCDebug(lcDeepgram, "🎤 '%s'", qUtf8Printable(text));
    if (m_transcripts)
        m_transcripts->push({Speaker::manager, text});
    if (m_onFinalTranscript)
        m_onFinalTranscript(text);
}

} // namespace quiro
