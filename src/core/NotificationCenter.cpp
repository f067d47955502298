#include "core/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

namespace quiro {

NotificationCenter::NotificationCenter(QObject* parent)
    : QObject(parent)
{
}

NotificationCenter& NotificationCenter::instance()
{
    // Observers run on the main thread, so the center lives there whichever thread asks first.
    static NotificationCenter center;
    static const bool movedToMainThread = [] {
        if (auto* app = QCoreApplication::instance())
            center.moveToThread(app->thread());
        return true;
    }();
    Q_UNUSED(movedToMainThread);
    return center;
}

void NotificationCenter::observe(const QString& name, QObject* context, Handler handler)
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_observers.push_back({name, context, std::move(handler)});
}

void NotificationCenter::post(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    Notification notification{name, object, userInfo};
    if (QThread::currentThread() == thread()) {
        deliver(notification);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, notification] { deliver(notification); }, Qt::QueuedConnection);
}

void NotificationCenter::deliver(const Notification& notification)
{
    std::erase_if(m_observers, [](const Observer& o) { return o.context.isNull(); });
    // Copy first: a handler may add observers while we iterate.
    const auto observers = m_observers;
    for (const auto& observer : observers) {
        if (observer.name == notification.name && !observer.context.isNull())
            observer.handler(notification);
    }
}

} // namespace quiro
