#include "service/http/ServiceServer.h"

#include "core/Log.h"
#include "service/accounts/AccountService.h"
#include "service/coach/CoachService.h"
#include "service/http/RequestSizeGuard.h"
#include "service/stt/SpeechModel.h"
#include "service/stt/SttSession.h"

#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <array>
#include <functional>

namespace quiro::service {

namespace {

using Method = QHttpServerRequest::Method;

QString methodName(Method method)
{
    switch (method) {
    case Method::Get:
        return QStringLiteral("GET");
    case Method::Post:
        return QStringLiteral("POST");
    case Method::Put:
        return QStringLiteral("PUT");
    case Method::Delete:
        return QStringLiteral("DELETE");
    case Method::Head:
        return QStringLiteral("HEAD");
    case Method::Options:
        return QStringLiteral("OPTIONS");
    case Method::Patch:
        return QStringLiteral("PATCH");
    default:
        return QStringLiteral("OTHER");
    }
}

bool isWebSocketUpgrade(const QHttpServerRequest& request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

} // namespace

ServiceServer::ServiceServer(AccountService& accounts, SpeechModel& speech, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_accounts(accounts)
    , m_speech(speech)
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &ServiceServer::onWebSocket);
}

quint16 ServiceServer::start(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls,
                             QString* error)
{
    // Our own listening servers rather than listen(): they guard request sizes, and they say
    // why listening failed.
    std::unique_ptr<QTcpServer> server;
    if (tls) {
        auto secure = std::make_unique<GuardedSslServer>();
        secure->setSslConfiguration(*tls);
        server = std::move(secure);
    } else {
        server = std::make_unique<GuardedTcpServer>();
    }
    if (!server->listen(address, port)) {
        *error = server->errorString();
        return 0;
    }
    const quint16 bound = server->serverPort();
    bind(server.release()); // parented to this server
    return bound;
}

ApiReply ServiceServer::dispatch(const QHttpServerRequest& request, bool* handled)
{
    *handled = true;
    const QString path = request.url().path();
    const Method method = request.method();
    const QByteArray authorization = request.value("authorization");

    using Handler = std::function<ApiReply()>;
    struct Route {
        const char* path;
        Method method;
        bool needsAccount;
        Handler handler;
    };
    const QByteArray body = request.body();
    const std::array<Route, 9> routes{{
        {"/api/register", Method::Post, false, [&] { return m_accounts.registerAccount(body); }},
        {"/api/login", Method::Post, false, [&] { return m_accounts.login(body); }},
        {"/api/refresh", Method::Post, false, [&] { return m_accounts.refresh(authorization); }},
        {"/me", Method::Get, false, [&] { return m_accounts.me(authorization); }},
        {"/hint", Method::Post, true, [&] { return CoachService::hint(body); }},
        {"/extract", Method::Post, true, [&] { return CoachService::extract(body); }},
        {"/assist", Method::Post, true, [&] { return CoachService::assist(body); }},
        {"/analyze", Method::Post, true, [&] { return CoachService::analyze(body); }},
        {"/health", Method::Get, false,
         [] {
             return ApiReply::ok({{QStringLiteral("status"), QStringLiteral("ok")}});
         }},
    }};

    // The app never sends an Origin; a browser always does on a cross-site request. Refusing
    // them keeps web pages from driving this service (registering accounts, locking sign-ins)
    // through the user's browser.
    if (!request.value("origin").isEmpty())
        return ApiReply::error(403, QStringLiteral("Requests from web pages are not accepted by the local service"));

    for (const Route& route : routes) {
        if (path != QLatin1String(route.path))
            continue;
        if (method != route.method) {
            ApiReply reply = ApiReply::error(405, QStringLiteral("Use %1 for %2").arg(methodName(route.method), path));
            reply.headers.append({"Allow", methodName(route.method).toLatin1()});
            return reply;
        }
        if (request.body().size() > maxBodyBytes)
            return ApiReply::error(413, QStringLiteral("The request body is larger than 1 MiB"));
        if (route.needsAccount && !m_accounts.authenticate(authorization))
            return ApiReply::error(401, QStringLiteral("Invalid or expired token"));
        return route.handler();
    }
    if (path == QLatin1String("/stt"))
        return ApiReply::error(426, QStringLiteral("/stt is a WebSocket endpoint; open it with a WebSocket client"));
    *handled = false;
    return ApiReply::error(404, QStringLiteral("Not found: %1").arg(path.left(100)));
}

bool ServiceServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // The WebSocket server takes the upgrade over once the request counts as handled.
    if (request.url().path() == QLatin1String("/stt") && request.method() == Method::Get && isWebSocketUpgrade(request))
        return true;
    RequestSizeGuard::requestDone(socket);
    QElapsedTimer timer;
    timer.start();
    bool handled = false;
    const ApiReply reply = dispatch(request, &handled);
    if (!handled)
        return false;
    respond(request, socket, reply, timer.elapsed());
    return true;
}

void ServiceServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    RequestSizeGuard::requestDone(socket);
    respond(request, socket, ApiReply::error(404, QStringLiteral("Not found: %1").arg(request.url().path().left(100))),
            0);
}

void ServiceServer::respond(const QHttpServerRequest& request, QTcpSocket* socket, const ApiReply& reply,
                            qint64 elapsedMs)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    const QByteArray json = QJsonDocument(reply.body).toJson(QJsonDocument::Compact);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
    responder.writeHeader("Content-Type", "application/json");
    responder.writeHeader("Content-Length", QByteArray::number(json.size()));
    for (const auto& [name, value] : reply.headers)
        responder.writeHeader(name, value);
    responder.writeBody(json);
    Log::line(QStringLiteral("Service"), QStringLiteral("%1 %2 %3 %4 ms")
                                             .arg(methodName(request.method()), request.url().path().left(100))
                                             .arg(reply.status)
                                             .arg(elapsedMs));
}

void ServiceServer::onWebSocket()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            continue;
        const QUrl url = socket->requestUrl();
        const auto account = m_accounts.authenticate(socket->request().rawHeader("Authorization"));
        // Qt cannot refuse an upgrade with 401, so a stream without a valid token is accepted and
        // closed at once with 4401 and the reason.
        if (url.path() != QLatin1String("/stt")) {
            Log::line(QStringLiteral("Service"),
                      QStringLiteral("GET %1 101 0 ms; closed 1008").arg(url.path().left(100)));
            SttSession::reject(std::move(socket), this, QStringLiteral("Unknown WebSocket path"),
                               QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        if (!socket->origin().isEmpty()) {
            Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms; closed 4403"));
            SttSession::reject(std::move(socket), this,
                               QStringLiteral("Streams from web pages are not accepted by the local service"),
                               SttSession::closeForbidden);
            continue;
        }
        if (!account) {
            Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms; closed 4401"));
            SttSession::reject(std::move(socket), this, QStringLiteral("Invalid or missing bearer token"),
                               SttSession::closeUnauthorized);
            continue;
        }
        QString problem;
        const auto parameters = SttSession::parameters(QUrlQuery(url), m_speech, &problem);
        if (!parameters) {
            Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms; closed 1003"));
            SttSession::reject(std::move(socket), this, problem, QWebSocketProtocol::CloseCodeDatatypeNotSupported);
            continue;
        }
        int& streams = m_streamsPerAccount[account->id];
        if (streams >= maxStreamsPerAccount) {
            Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms; closed 4429"));
            SttSession::reject(
                std::move(socket), this,
                QStringLiteral("Too many concurrent streams for this account (at most %1)").arg(maxStreamsPerAccount),
                SttSession::closeTooManyStreams);
            continue;
        }
        ++streams;
        auto* session = new SttSession(std::move(socket), m_speech, *parameters, this);
        const qint64 accountId = account->id;
        connect(session, &SttSession::ended, this, [this, accountId] {
            auto found = m_streamsPerAccount.find(accountId);
            if (found != m_streamsPerAccount.end() && --found->second <= 0)
                m_streamsPerAccount.erase(found);
        });
        Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms"));
        session->begin();
    }
}

} // namespace quiro::service
