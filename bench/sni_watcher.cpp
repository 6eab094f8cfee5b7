// A minimal StatusNotifier notification area on the session bus, for bench/engine_cpu.sh: it
// owns org.kde.StatusNotifierWatcher with one host registered (its own name), so that Qt's tray
// icon takes the StatusNotifier path. Like a real host it reads the properties of each item that
// registers and listens to the items' signals. Prints "ready" once the names are owned.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QTextStream>
#include <QVariant>

#include <cstdio>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

const char* const kIntrospection = R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
  <signal name="StatusNotifierHostUnregistered"/>
</interface>
)";

class Watcher final : public QDBusVirtualObject {
 public:
  explicit Watcher(QDBusConnection bus) : FBus(std::move(bus)) {}

  QString introspect(const QString& path) const override { return path == kPath ? kIntrospection : QString(); }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == kProperties && member == QLatin1String("Get") && args.size() == 2) {
      const QVariant value = Property(args[1].toString());
      if (!value.isValid()) return false;
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
      return true;
    }
    if (message.interface() == kProperties && member == QLatin1String("GetAll")) {
      QVariantMap all;
      for (const char* name : {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"})
        all.insert(QString::fromLatin1(name), Property(QString::fromLatin1(name)));
      connection.send(message.createReply(all));
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierItem") && args.size() == 1) {
      // The item is named by its bus name (Qt) or by its object path on the caller's name.
      QString service = args[0].toString();
      QString path = QStringLiteral("/StatusNotifierItem");
      if (service.startsWith(QLatin1Char('/'))) {
        path = service;
        service = message.service();
      }
      FItems.append(service + path);
      connection.send(message.createReply());
      FBus.send(QDBusMessage::createSignal(kPath, kWatcher, QStringLiteral("StatusNotifierItemRegistered"))
                << service + path);
      // What a host does next: read the item whole (its icon, tool tip, menu path).
      FBus.send(QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("GetAll"))
                << QStringLiteral("org.kde.StatusNotifierItem"));
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierHost")) {
      connection.send(message.createReply());
      return true;
    }
    return false;
  }

 private:
  QVariant Property(const QString& name) const {
    if (name == QLatin1String("RegisteredStatusNotifierItems")) return FItems;
    if (name == QLatin1String("IsStatusNotifierHostRegistered")) return true;
    if (name == QLatin1String("ProtocolVersion")) return 0;
    return {};
  }

  QDBusConnection FBus;
  QStringList FItems;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "sni_watcher: no session bus\n");
    return 1;
  }
  Watcher watcher(bus);
  const QString host = QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid());
  if (!bus.registerVirtualObject(kPath, &watcher) || !bus.registerService(host) || !bus.registerService(kWatcher)) {
    std::fprintf(stderr, "sni_watcher: %s\n", qPrintable(bus.lastError().message()));
    return 1;
  }
  // The items' signals (a new icon, tool tip or status) come here, as they would to a host.
  bus.interface()->call(QStringLiteral("AddMatch"),
                        QStringLiteral("type='signal',interface='org.kde.StatusNotifierItem'"));
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
