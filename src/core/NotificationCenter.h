#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <vector>

namespace quiro {

// Names of the process-wide notifications.
namespace Notifications {
inline const QString showMain = QStringLiteral("quiro.show_main");
inline const QString hideMain = QStringLiteral("quiro.hide_main");
inline const QString transcript = QStringLiteral("quiro.transcript");
inline const QString hint = QStringLiteral("quiro.hint");
inline const QString sessionSaved = QStringLiteral("quiro.session_saved");
inline const QString loggedOut = QStringLiteral("quiro.logged_out");
inline const QString widgetModeChanged = QStringLiteral("quiro.widget_mode_changed");
} // namespace Notifications

struct Notification {
    QString name;
    QVariant object;      // the sender's payload object, e.g. a saved session record
    QVariantMap userInfo; // e.g. {"speaker", "text"}
};

// Process-wide notifications between subsystems that do not hold each other. Observers run on
// the main (GUI) thread: a post from the main thread delivers at once, a post from any other
// thread is queued to the main thread.
class NotificationCenter final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& instance();

    // The handler runs while `context` lives; it is dropped with its context.
    void observe(const QString& name, QObject* context, Handler handler);
    void post(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});

private:
    explicit NotificationCenter(QObject* parent = nullptr);
    void deliver(const Notification& notification);

    struct Observer {
        QString name;
        QPointer<QObject> context;
        Handler handler;
    };
    std::vector<Observer> m_observers; // touched on the main thread only
};

} // namespace quiro
