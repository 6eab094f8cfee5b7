#include "tray_watch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

#include "session_bus.h"

namespace plumo {

std::unique_ptr<TTrayWatch> TTrayWatch::Start(std::function<void()> on_change) {
  if (!platform::SessionBusExpected()) return nullptr;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return nullptr;
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  if (!bus.interface()->isServiceRegistered(watcher)) return nullptr;
  std::unique_ptr<TTrayWatch> watch(new TTrayWatch(std::move(on_change)));
  auto* service = new QDBusServiceWatcher(  // a child of the watch
      watcher, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
      watch.get());
  connect(service, &QDBusServiceWatcher::serviceRegistered, watch.get(), &TTrayWatch::HostChanged);
  connect(service, &QDBusServiceWatcher::serviceUnregistered, watch.get(), &TTrayWatch::HostChanged);
  for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
    bus.connect(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, QString::fromLatin1(signal), watch.get(),
                SLOT(HostChanged()));
  return watch;
}

void TTrayWatch::HostChanged() {
  if (FOnChange) FOnChange();
}

}  // namespace plumo
