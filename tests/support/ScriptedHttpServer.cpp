#include "support/ScriptedHttpServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace quiro::test {

ScriptedReply ScriptedReply::json(const QJsonObject& object, int status)
{
    return text(QJsonDocument(object).toJson(QJsonDocument::Compact), status);
}

ScriptedReply ScriptedReply::text(const QByteArray& body, int status)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

QJsonObject RecordedRequest::json() const
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() ? document.object() : QJsonObject();
}

ScriptedHttpServer::ScriptedHttpServer(QObject* parent)
    : QAbstractHttpServer(parent)
{
}

ScriptedHttpServer::~ScriptedHttpServer() = default;

bool ScriptedHttpServer::start()
{
    // listen() reports failure as port 0.
    m_port = listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QString ScriptedHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void ScriptedHttpServer::setReply(const QString& path, ScriptedReply reply)
{
    m_replies.insert(path, std::move(reply));
}

void ScriptedHttpServer::enqueueReply(const QString& path, ScriptedReply reply)
{
    m_queued[path].push_back(std::move(reply));
}

QList<RecordedRequest> ScriptedHttpServer::requests(const QString& path) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest& request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

std::optional<ScriptedReply> ScriptedHttpServer::nextReply(const QString& path)
{
    auto queued = m_queued.find(path);
    if (queued != m_queued.end() && !queued->empty()) {
        ScriptedReply reply = std::move(queued->front());
        queued->pop_front();
        return reply;
    }
    const auto fixed = m_replies.constFind(path);
    if (fixed != m_replies.constEnd())
        return *fixed;
    return std::nullopt;
}

bool ScriptedHttpServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    RecordedRequest recorded;
    const char* method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method()));
    recorded.method = QByteArray(method ? method : "UNKNOWN").toUpper();
    recorded.path = request.url().path();
    for (const auto& [name, value] : request.headers())
        recorded.headers.insert(name.toLower(), value);
    recorded.body = request.body();
    m_requests.append(recorded);

    auto pending = std::make_shared<Pending>();
    pending->socket = socket;
    // The responder is made now, while the request is current; a delayed answer writes through it
    // later only if the client's socket still exists.
    pending->responder = std::make_unique<QHttpServerResponder>(makeResponder(request, socket));
    if (const auto reply = nextReply(recorded.path)) {
        pending->reply = *reply;
    } else {
        pending->reply = ScriptedReply::text("no script for this path", 404);
        pending->reply.contentType = "text/plain";
    }

    if (pending->reply.held) {
        m_held.push_back(pending);
    } else if (pending->reply.delayMs > 0) {
        QTimer::singleShot(pending->reply.delayMs, this, [pending] { send(*pending); });
    } else {
        send(*pending);
    }
    return true;
}

void ScriptedHttpServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

int ScriptedHttpServer::releaseHeld(int count)
{
    int sent = 0;
    while (!m_held.empty() && (count < 0 || sent < count)) {
        const std::shared_ptr<Pending> pending = m_held.front();
        m_held.pop_front();
        if (send(*pending))
            ++sent;
    }
    return sent;
}

bool ScriptedHttpServer::send(Pending& pending)
{
    if (!pending.responder || !pending.socket || !pending.socket->isOpen()) {
        pending.responder.reset();
        return false;
    }
    pending.responder->write(pending.reply.body, pending.reply.contentType,
                             static_cast<QHttpServerResponder::StatusCode>(pending.reply.status));
    pending.responder.reset();
    return true;
}

} // namespace quiro::test
