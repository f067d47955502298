#include "service/stt/UpstreamSpeechBackend.h"

#include "service/Address.h"
#include "service/ApiReply.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QUrlQuery>
#include <QWebSocket>

namespace quiro::service {

namespace {

QString seconds(int ms)
{
    return QString::number(double(ms) / 1000.0);
}

} // namespace

UpstreamSpeechBackend::UpstreamSpeechBackend(const SpeechUpstream& upstream, QString language, int sampleRate,
                                             qint64 maxQueuedBytes, QObject* parent)
    : SpeechBackend(parent)
    , m_upstream(upstream)
    , m_language(std::move(language))
    , m_sampleRate(sampleRate)
    , m_maxQueuedBytes(maxQueuedBytes)
{
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no answer within %1 s").arg(seconds(m_upstream.connectTimeoutMs))); });
    m_keepAlive.setInterval(keepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { sendText("KeepAlive"); });
    m_drain.setSingleShot(true);
    m_drain.setInterval(drainTimeoutMs);
    connect(&m_drain, &QTimer::timeout, this, [this] {
        m_done = true;
        m_socket->abort();
        emit finished();
    });
}

QString UpstreamSpeechBackend::name() const
{
    return QStringLiteral("relay to %1").arg(Address::shown(m_upstream.url));
}

QUrl UpstreamSpeechBackend::streamUrl(const QUrl& endpoint, const QString& language, int sampleRate)
{
    QUrl url = endpoint;
    QUrlQuery query(url);
    const QList<std::pair<QString, QString>> stream{
        {QStringLiteral("encoding"), QStringLiteral("linear16")},
        {QStringLiteral("sample_rate"), QString::number(sampleRate)},
        {QStringLiteral("channels"), QStringLiteral("1")},
        {QStringLiteral("language"), language},
        {QStringLiteral("interim_results"), QStringLiteral("true")},
    };
    for (const auto& [name, value] : stream) {
        query.removeAllQueryItems(name);
        query.addQueryItem(name, value);
    }
    url.setQuery(query);
    return url;
}

void UpstreamSpeechBackend::start()
{
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(quint64(maxBodyBytes));
    connect(m_socket, &QWebSocket::connected, this, [this] {
        m_connectTimer.stop();
        m_open = true;
        m_keepAlive.start();
        emit ready();
    });
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { onMessage(text.toUtf8()); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, &UpstreamSpeechBackend::onMessage);
    connect(m_socket, &QWebSocket::disconnected, this, &UpstreamSpeechBackend::onClosed);
    // A refused connection or handshake reports an error and may never say "disconnected".
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this, [this] {
        if (!m_open)
            fail(m_socket->errorString());
    });

    QNetworkRequest request(streamUrl(m_upstream.url, m_language, m_sampleRate));
    if (!m_upstream.apiKey.isEmpty())
        request.setRawHeader("Authorization", "Token " + m_upstream.apiKey);
    m_connectTimer.start(m_upstream.connectTimeoutMs);
    m_socket->open(request);
}

bool UpstreamSpeechBackend::feed(const QByteArray& pcm)
{
    if (m_done || m_finishing)
        return true;
    // A recognizer that stops reading would otherwise have the whole call queued here.
    if (m_socket->bytesToWrite() + pcm.size() > m_maxQueuedBytes)
        return false;
    m_socket->sendBinaryMessage(pcm);
    m_keepAlive.start();
    return true;
}

void UpstreamSpeechBackend::finish()
{
    if (m_done || m_finishing)
        return;
    m_finishing = true;
    m_keepAlive.stop();
    sendText("CloseStream");
    m_drain.start();
}

void UpstreamSpeechBackend::sendText(const char* type)
{
    m_socket->sendTextMessage(QStringLiteral("{\"type\":\"%1\"}").arg(QLatin1String(type)));
}

void UpstreamSpeechBackend::onMessage(const QByteArray& utf8)
{
    if (m_done)
        return;
    const QJsonObject message = QJsonDocument::fromJson(utf8).object();
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("Results")) {
        emit results(message);
    } else if (type == QLatin1String("Error")) {
        // The protocol's errors carry a "description"; some also a "message".
        QString reason = message.value(QStringLiteral("description")).toString();
        if (reason.isEmpty())
            reason = message.value(QStringLiteral("message")).toString();
        fail(reason.isEmpty() ? QStringLiteral("an error without a description") : reason.left(200));
    }
}

void UpstreamSpeechBackend::onClosed()
{
    if (m_done)
        return;
    if (!m_open) {
        fail(m_socket->errorString());
        return;
    }
    if (m_finishing) {
        m_done = true;
        m_drain.stop();
        emit finished();
        return;
    }
    // A dropped connection reads as a normal close without a reason.
    const QString reason = m_socket->closeReason().left(100);
    fail(QStringLiteral("it ended the stream unasked (close code %1%2)")
             .arg(int(m_socket->closeCode()))
             .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
}

void UpstreamSpeechBackend::fail(const QString& reason)
{
    if (m_done)
        return;
    const QString host = Address::shown(m_upstream.url);
    const QString message = m_open ? QStringLiteral("The speech service at %1 failed: %2").arg(host, reason)
                                   : QStringLiteral("Cannot reach the speech service at %1: %2").arg(host, reason);
    m_done = true;
    m_connectTimer.stop();
    m_keepAlive.stop();
    m_drain.stop();
    m_socket->abort();
    emit failed(message);
}

} // namespace quiro::service
