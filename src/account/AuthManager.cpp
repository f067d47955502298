#include "account/AuthManager.h"

#include "account/JwtExpiry.h"
#include "account/TokenStore.h"
#include "core/ExternalService.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/Published.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QThread>

#include <qcoro/qcoronetworkreply.h>

#include <algorithm>
#include <cmath>

namespace quiro {

namespace {

const QString logTag = QStringLiteral("Auth");

// What came back for one request: an HTTP status with its body, or nothing the service said.
struct Answer {
    std::optional<int> status; // absent: transport failure (no connection, time-out, no HTTP answer)
    QByteArray body;
};

Answer answerOf(QNetworkReply* reply)
{
    // Qt reports HTTP error statuses through error() as well; only the codes below 200
    // (connection, TLS, time-out, proxy) mean that no answer arrived.
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || (error != QNetworkReply::NoError && int(error) < 200))
        return {};
    return {status.toInt(), reply->readAll()};
}

} // namespace

AuthManager& AuthManager::shared()
{
    static QPointer<AuthManager> s_shared;
    auto* app = QCoreApplication::instance();
    Q_ASSERT_X(app && QThread::currentThread() == app->thread(), "AuthManager::shared",
               "the account manager lives on the main thread of a running application");
    if (!s_shared) {
        auto* store = new TokenStore(TokenStore::Backend::keychainThenFile, app);
        s_shared = new AuthManager(Config::load(), store, Clock::system(), app);
        store->setParent(s_shared);
        // Gone before the application object starts dying: Qt's TLS layer cannot close the pooled
        // connections of a network manager once the application instance is being destroyed.
        QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { delete s_shared.data(); });
    }
    return *s_shared;
}

AuthManager::AuthManager(Config config, TokenStore* store, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_store(store)
    , m_clock(clock)
    , m_network(this)
    , m_email(Preferences::email())
    , m_name(Preferences::name())
{
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this, &AuthManager::checkRefreshDue);
}

AuthManager::~AuthManager() = default;

QCoro::Task<> AuthManager::restore(Renewal renewal)
{
    QPointer<AuthManager> self(this);
    QPointer<TokenStore> store = m_store;
    if (!store)
        co_return;
    const quint64 generation = m_generation;
    const std::optional<QString> stored = co_await store->read();
    if (!self || m_generation != generation || !stored)
        co_return;
    setToken(stored);
    if (renewal == Renewal::schedule)
        scheduleRefreshIfNeeded();
}

QCoro::Task<std::optional<AuthError>> AuthManager::login(QString email, QString password)
{
    QJsonObject body{{QStringLiteral("email"), email}, {QStringLiteral("password"), password}};
    co_return co_await authCall(ExternalService::Path::login, std::move(body));
}

QCoro::Task<std::optional<AuthError>> AuthManager::registerAccount(QString email, QString password, QString name)
{
    QJsonObject body{
        {QStringLiteral("email"), email}, {QStringLiteral("password"), password}, {QStringLiteral("name"), name}};
    co_return co_await authCall(ExternalService::Path::registerAccount, std::move(body));
}

QNetworkRequest AuthManager::requestFor(const QUrl& url, int timeoutMs, const std::optional<QString>& token) const
{
    QNetworkRequest request = ExternalService::request(url, token);
    request.setTransferTimeout(timeoutMs);
    return request;
}

QCoro::Task<std::optional<AuthError>> AuthManager::authCall(QString path, QJsonObject body)
{
    QPointer<AuthManager> self(this);
    const auto url = ExternalService::endpoint(m_config.apiBase, path);
    if (!url)
        co_return AuthError::network(
            QStringLiteral("API_BASE \"%1\" is not a URL — fix it in %2").arg(m_config.apiBase, Paths::userEnvFile()));
    QNetworkRequest request = requestFor(*url, authTimeoutMs, std::nullopt);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply* reply = m_network.post(request, Json::compact(body));
    co_await reply;
    if (!self)
        co_return AuthError::network();
    reply->deleteLater();
    const Answer answer = answerOf(reply);
    if (!answer.status) {
        QString reason = ExternalService::unansweredReason(*url, reply->error(), reply->errorString(), authTimeoutMs);
        reason[0] = reason[0].toUpper();
        if (reply->error() == QNetworkReply::SslHandshakeFailedError)
            co_return AuthError::untrustedCertificate(reason);
        co_return AuthError::network(reason);
    }
    const auto object = Json::parseObject(answer.body);
    if (*answer.status != 200) {
        if (object) {
            if (const auto detail = Json::string(*object, QStringLiteral("detail")))
                co_return AuthError::server(*detail);
        }
        co_return AuthError::status(*answer.status);
    }
    if (!object)
        co_return AuthError::badResponse();
    const auto token = Json::string(*object, QStringLiteral("token"));
    const auto email = Json::string(*object, QStringLiteral("email"));
    const auto name = Json::string(*object, QStringLiteral("name"));
    if (!token || !email || !name)
        co_return AuthError::badResponse();
    co_await applyToken(*token, *email, *name);
    co_return std::nullopt;
}

QCoro::Task<> AuthManager::applyToken(QString token, QString email, QString name)
{
    ++m_generation;
    setToken(token);
    setEmail(email);
    setName(name);
    Preferences::setAccount(email, name);
    scheduleRefreshIfNeeded();
    // Awaited so that a finished sign-in means a stored token (the command line exits right after).
    if (QPointer<TokenStore> store = m_store)
        co_await store->write(token);
}

QCoro::Task<> AuthManager::performRefresh()
{
    QPointer<AuthManager> self(this);
    if (!m_token)
        co_return;
    const auto url = ExternalService::endpoint(m_config.apiBase, ExternalService::Path::refresh);
    if (!url)
        co_return;
    const quint64 generation = m_generation;
    QNetworkReply* reply = m_network.post(requestFor(*url, refreshTimeoutMs, m_token), QByteArray());
    co_await reply;
    if (!self)
        co_return;
    reply->deleteLater();
    // Signed out, signed in again or renewed meanwhile: this answer is about a token we no longer
    // hold, and applying it would resurrect or replace the current account.
    if (m_generation != generation)
        co_return;
    const Answer answer = answerOf(reply);
    if (!answer.status) {
        Log::line(logTag, QStringLiteral("Token refresh failed — network error"));
        co_return;
    }
    if (*answer.status == 401) {
        co_await logout();
        co_return;
    }
    if (*answer.status == 200) {
        const auto object = Json::parseObject(answer.body);
        if (const auto token = object ? Json::string(*object, QStringLiteral("token")) : std::nullopt) {
            Log::line(logTag, QStringLiteral("Token refreshed ✅"));
            ++m_generation;
            setToken(*token);
            planRefresh(After::renewal);
            if (QPointer<TokenStore> store = m_store)
                co_await store->write(*token);
            co_return;
        }
    }
    Log::line(logTag, QStringLiteral("Token refresh failed — status %1").arg(*answer.status));
}

QCoro::Task<> AuthManager::fetchMe()
{
    QPointer<AuthManager> self(this);
    if (!m_token)
        co_return;
    const auto url = ExternalService::endpoint(m_config.apiBase, ExternalService::Path::me);
    if (!url)
        co_return;
    const quint64 generation = m_generation;
    QNetworkReply* reply = m_network.get(requestFor(*url, meTimeoutMs, m_token));
    co_await reply;
    if (!self)
        co_return;
    reply->deleteLater();
    // A profile fetched with a token we no longer hold may belong to another account.
    if (m_generation != generation)
        co_return;
    const Answer answer = answerOf(reply);
    if (!answer.status)
        co_return;
    if (*answer.status == 401) {
        co_await performRefresh();
        co_return;
    }
    if (*answer.status != 200)
        co_return;
    const auto object = Json::parseObject(answer.body);
    if (!object)
        co_return;
    if (auto me = MeResponse::fromJson(*object))
        setMe(std::move(me));
}

QCoro::Task<> AuthManager::logout()
{
    cancelRefresh();
    ++m_generation;
    setToken(std::nullopt);
    setEmail(std::nullopt);
    setName(std::nullopt);
    setMe(std::nullopt);
    QPointer<TokenStore> store = m_store;
    std::optional<QCoro::Task<>> removal;
    if (store)
        removal.emplace(store->remove());
    Preferences::clearAccount();
    NotificationCenter::instance().post(Notifications::loggedOut);
    if (removal)
        co_await std::move(*removal);
}

void AuthManager::scheduleRefreshIfNeeded()
{
    planRefresh(After::signIn);
}

void AuthManager::planRefresh(After after)
{
    if (!m_token)
        return;
    const double now = m_clock.now();
    const auto delaySeconds = after == After::renewal ? JwtExpiry::delayAfterRenewalSeconds(*m_token, now)
                                                      : JwtExpiry::refreshDelaySeconds(*m_token, now);
    if (!delaySeconds)
        return;
    m_refreshDueAt = now + *delaySeconds;
    armRefreshTimer();
}

void AuthManager::cancelRefresh()
{
    m_refreshTimer.stop();
    m_refreshDueAt.reset();
}

void AuthManager::armRefreshTimer()
{
    // Timers run on a clock that stops while the computer sleeps; the renewal is due by the wall
    // clock. Waking up regularly to compare catches a lid closed over a long weekend before the
    // token runs out.
    const double remainingMs = std::max(0.0, std::ceil((*m_refreshDueAt - m_clock.now()) * 1000.0));
    m_refreshTimer.start(int(std::min(remainingMs, double(m_refreshCheckIntervalMs))));
}

void AuthManager::checkRefreshDue()
{
    if (!m_refreshDueAt)
        return;
    if (m_clock.now() < *m_refreshDueAt) {
        armRefreshTimer();
        return;
    }
    m_refreshDueAt.reset();
    performRefresh();
}

std::optional<qint64> AuthManager::pendingRefreshDelayMs() const
{
    if (!m_refreshDueAt)
        return std::nullopt;
    return qint64(std::max(0.0, std::ceil((*m_refreshDueAt - m_clock.now()) * 1000.0)));
}

void AuthManager::setToken(std::optional<QString> token)
{
    setPublished(this, m_token, std::move(token), &AuthManager::tokenChanged);
}

void AuthManager::setEmail(std::optional<QString> email)
{
    setPublished(this, m_email, std::move(email), &AuthManager::emailChanged);
}

void AuthManager::setName(std::optional<QString> name)
{
    setPublished(this, m_name, std::move(name), &AuthManager::nameChanged);
}

void AuthManager::setMe(std::optional<MeResponse> me)
{
    setPublished(this, m_me, std::move(me), &AuthManager::meChanged);
}

} // namespace quiro
