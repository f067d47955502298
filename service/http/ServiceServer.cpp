#include "service/http/ServiceServer.h"

#include "core/Log.h"
#include "service/accounts/AccountService.h"
#include "service/coach/Coach.h"
#include "service/http/ConnectionLimiter.h"
#include "service/http/HttpConnection.h"
#include "service/http/LogText.h"
#include "service/stt/SpeechService.h"
#include "service/stt/SttSession.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPointer>
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

QFuture<ApiReply> ready(ApiReply reply)
{
    return QtFuture::makeReadyFuture(std::move(reply));
}

void logStreamRefusal(int closeCode)
{
    Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms; closed %1").arg(closeCode));
}

} // namespace

ServiceServer::ServiceServer(AccountService& accounts, Coach& coach, SpeechService& speech, const ServiceLimits& limits,
                             QObject* parent)
    : QAbstractHttpServer(parent)
    , m_accounts(accounts)
    , m_coach(coach)
    , m_speech(speech)
    , m_limits(limits)
    , m_connections(new ConnectionLimiter({ConnectionLimiter::fitToDescriptors(limits.maxConnections, limits.streams()),
                                           limits.requestTimeoutMs, limits.idleTimeoutMs},
                                          this))
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &ServiceServer::onWebSocket);
}

int ServiceServer::maxConnections() const
{
    return m_connections->settings().maxConnections;
}

quint16 ServiceServer::start(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls,
                             QString* error)
{
    // Our own listening servers rather than listen(): they admit every connection, and they say
    // why listening failed.
    std::unique_ptr<QTcpServer> server;
    if (tls) {
        auto secure = std::make_unique<AdmittingSslServer>(*m_connections);
        secure->setSslConfiguration(*tls);
        server = std::move(secure);
    } else {
        server = std::make_unique<AdmittingTcpServer>(*m_connections);
    }
    if (!server->listen(address, port)) {
        *error = server->errorString();
        return 0;
    }
    const quint16 bound = server->serverPort();
    bind(server.release()); // parented to this server
    return bound;
}

QJsonObject ServiceServer::health() const
{
    return {
        {QStringLiteral("status"), QStringLiteral("ok")},
        {QStringLiteral("coach"), m_coach.status()},
        {QStringLiteral("speech"), m_speech.status()},
        {QStringLiteral("speech_languages"), QJsonArray::fromStringList(m_speech.languages())},
    };
}

QFuture<ApiReply> ServiceServer::dispatch(const Call& call)
{
    const auto coach = [&](Coach::Endpoint endpoint) {
        return [&, endpoint] { return m_coach.answer(endpoint, call.body); };
    };
    using Handler = std::function<QFuture<ApiReply>()>;
    struct Route {
        const char* path;
        Method method;
        bool needsAccount;
        Handler handler;
    };
    const std::array<Route, 9> routes{{
        {"/api/register", Method::Post, false, [&] { return m_accounts.registerAccount(call.body); }},
        {"/api/login", Method::Post, false, [&] { return m_accounts.login(call.body); }},
        {"/api/refresh", Method::Post, false, [&] { return ready(m_accounts.refresh(call.authorization)); }},
        {"/me", Method::Get, false, [&] { return ready(m_accounts.me(call.authorization)); }},
        {"/hint", Method::Post, true, coach(Coach::Endpoint::hint)},
        {"/extract", Method::Post, true, coach(Coach::Endpoint::extract)},
        {"/assist", Method::Post, true, coach(Coach::Endpoint::assist)},
        {"/analyze", Method::Post, true, coach(Coach::Endpoint::analyze)},
        {"/health", Method::Get, false, [this] { return ready(ApiReply::ok(health())); }},
    }};

    // The app never sends an Origin; a browser always does on a cross-site request. Refusing
    // them keeps web pages from driving this service (registering accounts, locking sign-ins)
    // through the user's browser.
    if (call.fromWebPage)
        return ready(
            ApiReply::error(403, QStringLiteral("Requests from web pages are not accepted by the local service")));

    for (const Route& route : routes) {
        if (call.path != QLatin1String(route.path))
            continue;
        if (call.method != route.method) {
            ApiReply reply =
                ApiReply::error(405, QStringLiteral("Use %1 for %2").arg(methodName(route.method), call.path));
            reply.headers.append({"Allow", methodName(route.method).toLatin1()});
            return ready(reply);
        }
        if (route.needsAccount && !m_accounts.authenticate(call.authorization))
            return ready(ApiReply::error(401, QStringLiteral("Invalid or expired token")));
        return route.handler();
    }
    if (call.path == QLatin1String("/stt"))
        return ready(
            ApiReply::error(426, QStringLiteral("/stt is a WebSocket endpoint; open it with a WebSocket client")));
    return ready(ApiReply::error(404, QStringLiteral("Not found: %1").arg(call.path.left(100))));
}

bool ServiceServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // The WebSocket server takes an upgrade over once the request counts as handled; any other
    // upgrade is left unhandled, answered 404 and closed.
    if (isWebSocketUpgrade(request))
        return request.url().path() == QLatin1String("/stt") && request.method() == Method::Get;
    QElapsedTimer timer;
    timer.start();
    const Call call{request.method(), request.url().path(), request.value("authorization"), request.body(),
                    !request.value("origin").isEmpty()};
    answerWhenDone(socket, call, dispatch(call), timer);
    return true;
}

void ServiceServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QElapsedTimer timer;
    timer.start();
    const Call call{request.method(), request.url().path(), {}, {}, false};
    answerWhenDone(socket, call, ready(ApiReply::error(404, QStringLiteral("Not found: %1").arg(call.path.left(100)))),
                   timer);
}

void ServiceServer::answerWhenDone(QTcpSocket* socket, const Call& call, QFuture<ApiReply> reply,
                                   const QElapsedTimer& timer)
{
    HttpConnection* connection = HttpConnection::of(socket);
    if (!connection) {
        socket->abort(); // every connection is admitted first; one that was not has no business here
        return;
    }
    const quint64 ticket = connection->expectAnswer();
    const QString name = methodName(call.method) + QLatin1Char(' ') + LogText::printable(call.path);
    const auto write = [target = QPointer<QTcpSocket>(socket), ticket, name, timer](const ApiReply& answer) {
        if (HttpConnection* open = HttpConnection::of(target))
            open->answer(ticket, answer);
        Log::line(QStringLiteral("Service"),
                  QStringLiteral("%1 %2 %3 ms").arg(name).arg(answer.status).arg(timer.elapsed()));
    };
    // Work cancelled by a shutdown still gets an answer.
    reply.then(this, write).onCanceled(this, [write] {
        write(ApiReply::error(503, QStringLiteral("The service is shutting down; try again")));
    });
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
                      QStringLiteral("GET %1 101 0 ms; closed 1008").arg(LogText::printable(url.path())));
            SttSession::reject(std::move(socket), this, QStringLiteral("Unknown WebSocket path"),
                               QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        if (!socket->origin().isEmpty()) {
            logStreamRefusal(SttSession::closeForbidden);
            SttSession::reject(std::move(socket), this,
                               QStringLiteral("Streams from web pages are not accepted by the local service"),
                               SttSession::closeForbidden);
            continue;
        }
        if (!account) {
            logStreamRefusal(SttSession::closeUnauthorized);
            SttSession::reject(std::move(socket), this, QStringLiteral("Invalid or missing bearer token"),
                               SttSession::closeUnauthorized);
            continue;
        }
        QString problem;
        const auto parameters = SttSession::parameters(QUrlQuery(url), m_speech, &problem);
        if (!parameters) {
            logStreamRefusal(QWebSocketProtocol::CloseCodeDatatypeNotSupported);
            SttSession::reject(std::move(socket), this, problem, QWebSocketProtocol::CloseCodeDatatypeNotSupported);
            continue;
        }
        const auto held = m_streamsPerAccount.find(account->id);
        if (held != m_streamsPerAccount.end() && held->second >= maxStreamsPerAccount) {
            logStreamRefusal(SttSession::closeTooManyStreams);
            SttSession::reject(
                std::move(socket), this,
                QStringLiteral("Too many concurrent streams for this account (at most %1)").arg(maxStreamsPerAccount),
                SttSession::closeTooManyStreams);
            continue;
        }
        // Each stream holds a decoder and a thread: the machine bounds them, whoever asks.
        if (m_streams >= m_limits.streams()) {
            logStreamRefusal(SttSession::closeServiceFull);
            SttSession::reject(std::move(socket), this,
                               QStringLiteral("The service is at its limit of %1 concurrent streams; try again later")
                                   .arg(m_limits.streams()),
                               SttSession::closeServiceFull);
            continue;
        }
        ++m_streamsPerAccount[account->id];
        ++m_streams;
        auto* session = new SttSession(std::move(socket), m_speech, *parameters, m_limits.sttSilenceTimeoutMs, this);
        const qint64 accountId = account->id;
        connect(session, &SttSession::ended, this, [this, accountId] {
            --m_streams;
            auto found = m_streamsPerAccount.find(accountId);
            if (found != m_streamsPerAccount.end() && --found->second <= 0)
                m_streamsPerAccount.erase(found);
        });
        Log::line(QStringLiteral("Service"), QStringLiteral("GET /stt 101 0 ms"));
        session->begin();
    }
}

} // namespace quiro::service
