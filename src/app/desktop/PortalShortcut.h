#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <optional>

namespace quiro {

// Ctrl+Shift+Space on Wayland, where one program cannot grab keys from another: the desktop
// portal's global shortcuts (org.freedesktop.portal.GlobalShortcuts), which the desktop binds on
// the program's behalf and may let the user confirm or change.
class PortalShortcut final : public QObject {
    Q_OBJECT
public:
    static inline const QString shortcutId = QStringLiteral("hint-now");

    explicit PortalShortcut(QObject* parent = nullptr);

    // Whether the session bus offers the portal interface at all (a quick question, no prompt).
    static bool isOffered();
    // Creates a portal session and binds the shortcut. Nothing when bound, otherwise why not.
    QCoro::Task<std::optional<QString>> bind();

signals:
    void activated();

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    // Calls a portal method that answers through a Request object and waits for its Response.
    QCoro::Task<std::optional<QVariantMap>> request(QString method, QVariantList arguments, QString token);

    QDBusObjectPath m_session;
};

} // namespace quiro
