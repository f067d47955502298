#pragma once

#include "account/AuthError.h"
#include "account/MeResponse.h"
#include "core/Clock.h"
#include "core/Config.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <optional>

namespace quiro {

class TokenStore;

// The signed-in account of the process: signs in or registers against the service, keeps the
// bearer token in the TokenStore and the e-mail and name in the preferences, renews the token
// ahead of its expiry, fetches the profile and signs out. Lives on the GUI thread.
//
// Start-up: the stored token is read asynchronously (the secret service is a D-Bus round trip),
// so the app and the command line `co_await restore()` once before they look at isLoggedIn().
// Until then the manager reports the stored e-mail and name but no token.
class AuthManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> token READ token NOTIFY tokenChanged)
    Q_PROPERTY(std::optional<QString> email READ email NOTIFY emailChanged)
    Q_PROPERTY(std::optional<QString> name READ name NOTIFY nameChanged)
    Q_PROPERTY(std::optional<quiro::MeResponse> me READ me NOTIFY meChanged)
    Q_PROPERTY(bool loggedIn READ isLoggedIn NOTIFY tokenChanged)

public:
    static constexpr int authTimeoutMs = 10'000;
    static constexpr int refreshTimeoutMs = 10'000;
    static constexpr int meTimeoutMs = 8'000;

    // The process's account manager, created on first use with the loaded configuration, the
    // keychain-backed store and the system clock; owned by the application object.
    static AuthManager& shared();

    // `store` must outlive the manager (or be its child).
    AuthManager(Config config, TokenStore* store, const Clock& clock, QObject* parent = nullptr);
    ~AuthManager() override;

    std::optional<QString> token() const { return m_token; }
    std::optional<QString> email() const { return m_email; }
    std::optional<QString> name() const { return m_name; }
    std::optional<MeResponse> me() const { return m_me; }
    bool isLoggedIn() const { return m_token.has_value(); }

    enum class Renewal {
        schedule, // the app: keep the token fresh from now on
        leave,    // a short-lived command: a renewal cut short by the exit could lose the new token
    };
    // Reads the stored token and (by default) schedules its renewal. A sign-in or sign-out that
    // happened meanwhile wins over what was stored.
    QCoro::Task<> restore(Renewal renewal = Renewal::schedule);

    // Sign in / create an account. Nothing on success (the manager is then signed in and the
    // token is stored), the reason otherwise.
    QCoro::Task<std::optional<AuthError>> login(QString email, QString password);
    // `register` is a C++ keyword, hence the longer name.
    QCoro::Task<std::optional<AuthError>> registerAccount(QString email, QString password, QString name);

    // Refreshes `me`; a 401 asks for a token renewal instead. Failures are silent.
    QCoro::Task<> fetchMe();

    // Signs out at once: state cleared, preferences removed, "quiro.logged_out" posted before the
    // call returns. The returned task finishes when the stored token is gone too; callers that
    // exit right after (the command line) await it, others may drop it.
    QCoro::Task<> logout();

    // Renews the token now ("/api/refresh"); a 401 signs out.
    QCoro::Task<> performRefresh();

    // (Re)plans the renewal from the token's "exp": 3 days ahead of the expiry, waiting at most
    // a day at a time; nothing when the expiry is unknown.
    void scheduleRefreshIfNeeded();
    // The time left until the planned renewal, absent when none is planned.
    std::optional<qint64> pendingRefreshDelayMs() const;

    // How often a pending renewal compares its due time with the clock (15 minutes).
    void setRefreshCheckIntervalMs(int intervalMs) { m_refreshCheckIntervalMs = intervalMs; }

signals:
    void tokenChanged();
    void emailChanged();
    void nameChanged();
    void meChanged();

private:
    enum class After { signIn, renewal };
    void planRefresh(After after);
    void cancelRefresh();
    void armRefreshTimer();
    void checkRefreshDue();
    QCoro::Task<std::optional<AuthError>> authCall(QString path, QJsonObject body);
    QCoro::Task<> applyToken(QString token, QString email, QString name);
    void setToken(std::optional<QString> token);
    void setEmail(std::optional<QString> email);
    void setName(std::optional<QString> name);
    void setMe(std::optional<MeResponse> me);
    QNetworkRequest requestFor(const QUrl& url, int timeoutMs, const std::optional<QString>& token) const;

    const Config m_config;
    QPointer<TokenStore> m_store;
    const Clock& m_clock;
    QNetworkAccessManager m_network;
    QTimer m_refreshTimer;
    std::optional<double> m_refreshDueAt; // wall-clock seconds
    int m_refreshCheckIntervalMs = 15 * 60 * 1000;

    std::optional<QString> m_token;
    std::optional<QString> m_email;
    std::optional<QString> m_name;
    std::optional<MeResponse> m_me;
    // Bumped by every sign-in, renewal and sign-out: an answer for an older token is not applied.
    quint64 m_generation = 0;
};

} // namespace quiro
