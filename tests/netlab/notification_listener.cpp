// SPDX-License-Identifier: MIT
// The lab's desktop: owns org.freedesktop.Notifications on the session bus it is given and prints
// every notification it is asked to show, one line each:
//   notify APP_NAME TAB ICON TAB SUMMARY TAB BODY
//
//   notification_listener BUS_ADDRESS      prints "ready" once the name is its own
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public slots:
    uint Notify(const QString& appName, uint /*replacesId*/, const QString& icon,
                const QString& summary, const QString& body, const QStringList& /*actions*/,
                const QVariantMap& /*hints*/, int /*timeout*/) {
        std::printf("notify %s\t%s\t%s\t%s\n", qPrintable(appName), qPrintable(icon),
                    qPrintable(summary), qPrintable(body));
        std::fflush(stdout);
        return ++shown_;
    }

  private:
    uint shown_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: notification_listener BUS_ADDRESS\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(QString(argv[1]), "lab");
    Notifications notifications;
    if (!bus.isConnected() ||
        !bus.registerObject("/org/freedesktop/Notifications", &notifications,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        std::fprintf(stderr, "notification_listener: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "notification_listener.moc"
