#include "app/desktop/PortalShortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QUuid>

#include <qcoro/qcorodbuspendingcall.h>
#include <qcoro/qcorosignal.h>

#include <chrono>

namespace quiro {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
// The user may be asked to confirm the shortcut: give them time.
constexpr auto answerTimeout = std::chrono::minutes(2);

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// Waits for the Response signal of one portal request.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    std::optional<QVariantMap> results;
    bool answered = false;

signals:
    void done();

public slots:
    void onResponse(uint response, const QVariantMap& values)
    {
        answered = true;
        if (response == 0)
            results = values;
        emit done();
    }
};

// The path the portal gives the request object for `token`, known before the call so that the
// answer cannot arrive before anyone listens for it.
QString requestPath(const QString& token)
{
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

// GCC 12 cannot keep these initialiser lists in a coroutine frame ("array used as initializer"):
// they are built in plain functions instead.
QVariantList createSessionArguments(const QString& requestToken, const QString& sessionToken)
{
    return {QVariantMap{{QStringLiteral("handle_token"), requestToken},
                        {QStringLiteral("session_handle_token"), sessionToken}}};
}

QVariantList bindArguments(const QDBusObjectPath& session, const QString& shortcutId, const QString& requestToken)
{
    const QList<Shortcut> shortcuts{{shortcutId,
                                     {{QStringLiteral("description"), QStringLiteral("Quiro: a hint now")},
                                      {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+SHIFT+space")}}}};
    return {QVariant::fromValue(session), QVariant::fromValue(shortcuts), QString(),
            QVariantMap{{QStringLiteral("handle_token"), requestToken}}};
}

QString newToken()
{
    return QStringLiteral("quiro_") + QUuid::createUuid().toString(QUuid::Id128);
}

} // namespace

PortalShortcut::PortalShortcut(QObject* parent)
    : QObject(parent)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

bool PortalShortcut::isOffered()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(portalService))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << shortcutsInterface << QStringLiteral("version");
    return bus.call(get, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
}

QCoro::Task<std::optional<QVariantMap>> PortalShortcut::request(QString method, QVariantList arguments, QString token)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ResponseWaiter waiter;
    bus.connect(portalService, requestPath(token), requestInterface, QStringLiteral("Response"), &waiter,
                SLOT(onResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() == QDBusMessage::ErrorMessage)
        co_return std::nullopt;
    if (!waiter.answered)
        co_await qCoro(&waiter, &ResponseWaiter::done, answerTimeout);
    co_return waiter.results;
}

QCoro::Task<std::optional<QString>> PortalShortcut::bind()
{
    if (!isOffered())
        co_return QStringLiteral("this desktop offers no global shortcuts portal");
    QPointer<PortalShortcut> self(this);

    const QString sessionToken = newToken();
    const QString createToken = newToken();
    const auto created = co_await request(QStringLiteral("CreateSession"),
                                          createSessionArguments(createToken, sessionToken), createToken);
    if (!self)
        co_return QStringLiteral("closed");
    const QString session = created ? created->value(QStringLiteral("session_handle")).toString() : QString();
    if (session.isEmpty())
        co_return QStringLiteral("the desktop portal did not open a shortcuts session");
    m_session = QDBusObjectPath(session);

    const QString bindToken = newToken();
    const auto bound =
        co_await request(QStringLiteral("BindShortcuts"), bindArguments(m_session, shortcutId, bindToken), bindToken);
    if (!self)
        co_return QStringLiteral("closed");
    if (!bound)
        co_return QStringLiteral("the shortcut was not bound (refused, or not confirmed in time)");
    QDBusConnection::sessionBus().connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"),
                                          this, SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    co_return std::nullopt;
}

void PortalShortcut::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&)
{
    if (session == m_session && id == shortcutId)
        emit activated();
}

} // namespace quiro

#include "PortalShortcut.moc"
