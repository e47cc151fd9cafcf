#include "StatusNotifierHost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QVariant>

namespace {

bool AskSessionBus() {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return false;
    if (!bus.interface()->isServiceRegistered(watcher).value())
        return false;
    QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return host.isValid() && host.property("IsStatusNotifierHostRegistered").toBool();
}

} // namespace

bool TrayUsesStatusNotifier() {
    static const bool usesStatusNotifier = AskSessionBus();
    return usesStatusNotifier;
}
