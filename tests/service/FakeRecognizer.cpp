#include "FakeRecognizer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <QWebSocketServer>

FakeRecognizer::FakeRecognizer(QStringList script, qint64 bytesPerLine, QObject* parent)
    : QObject(parent)
    , m_script(std::move(script))
    , m_bytesPerLine(bytesPerLine)
    , m_server(new QWebSocketServer(QStringLiteral("fake recognizer"), QWebSocketServer::NonSecureMode, this))
{
    connect(m_server, &QWebSocketServer::newConnection, this, &FakeRecognizer::onConnection);
}

FakeRecognizer::~FakeRecognizer()
{
    stop();
}

bool FakeRecognizer::start(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 FakeRecognizer::port() const
{
    return m_server->serverPort();
}

QString FakeRecognizer::url() const
{
    return QStringLiteral("ws://127.0.0.1:%1/v1/listen").arg(port());
}

void FakeRecognizer::stop()
{
    m_server->close();
    for (const QPointer<QWebSocket>& socket : std::as_const(m_sockets)) {
        if (socket)
            socket->abort();
    }
}

QString FakeRecognizer::nextLine()
{
    const QString line = m_script.at(m_nextLine % m_script.size());
    ++m_nextLine;
    return line;
}

void FakeRecognizer::onConnection()
{
    while (QWebSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_sockets.append(socket);
        auto stream = std::make_shared<Stream>();
        stream->url = socket->requestUrl();
        stream->authorization = socket->request().rawHeader("Authorization");
        m_streams.append(stream);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket, stream](const QByteArray& audio) { onAudio(socket, *stream, audio.size()); });
        connect(socket, &QWebSocket::textMessageReceived, this, [this, socket, stream](const QString& text) {
            stream->texts.append(text);
            if (!text.contains(QLatin1String("CloseStream")))
                return;
            if (stream->audioBytes % m_bytesPerLine != 0)
                sendResult(socket, nextLine(), true);
            socket->sendTextMessage(QStringLiteral(R"({"type":"Metadata","request_id":"fake","channels":1})"));
            socket->close(QWebSocketProtocol::CloseCodeNormal);
        });
    }
}

void FakeRecognizer::onAudio(QWebSocket* socket, Stream& stream, qint64 bytes)
{
    const qint64 before = stream.audioBytes;
    stream.audioBytes += bytes;
    // Halfway through a line's audio its first words come as an interim result.
    const qint64 half = m_bytesPerLine / 2;
    if ((before + half) / m_bytesPerLine < (stream.audioBytes + half) / m_bytesPerLine) {
        const QStringList words = m_script.at(m_nextLine % m_script.size()).split(QLatin1Char(' '));
        sendResult(socket, words.mid(0, (words.size() + 1) / 2).join(QLatin1Char(' ')), false);
    }
    for (qint64 line = before / m_bytesPerLine; line < stream.audioBytes / m_bytesPerLine; ++line)
        sendResult(socket, nextLine(), true);
}

void FakeRecognizer::sendResult(QWebSocket* socket, const QString& text, bool isFinal)
{
    const QJsonObject alternative{{QStringLiteral("transcript"), text}, {QStringLiteral("confidence"), 0.98}};
    const QJsonObject result{
        {QStringLiteral("type"), QStringLiteral("Results")},
        {QStringLiteral("is_final"), isFinal},
        {QStringLiteral("speech_final"), isFinal},
        {QStringLiteral("channel"), QJsonObject{{QStringLiteral("alternatives"), QJsonArray{alternative}}}},
    };
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
}
