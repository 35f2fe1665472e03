// SPDX-License-Identifier: MIT
#include "desktop_notices.h"
#include "attack_log.h"
#include "date_time.h"
#include "language.h"
#include "system.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantMap>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace tarnvik::qt {

namespace {

// A session bus to ask, without letting the bus library start one of its own (autolaunch).
bool sessionBusKnown() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ignored;
    return runtime != nullptr && *runtime != '\0' &&
           std::filesystem::exists(std::filesystem::path(runtime) / "bus", ignored);
}

} // namespace

DesktopNotices::DesktopNotices(std::function<void(const std::string&)> report)
    : report_(std::move(report)) {}

void DesktopNotices::reportOnce(const std::string& line) {
    if (!reported_ && report_) {
        reported_ = true;
        report_(line + "; attacks are told in the logs only");
    }
}

void DesktopNotices::show(const Notice& notice) {
    if (!sessionBusKnown()) {
        reportOnce("no session bus for desktop notifications");
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        reportOnce("no session bus for desktop notifications (" +
                   bus.lastError().message().toStdString() + ")");
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    call << QString("Tarnvik") << 0u << QString("tarnvik") << QString::fromStdString(notice.title)
         << QString::fromStdString(notice.body) << QStringList() << QVariantMap() << -1;
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                if (finished->isError()) {
                    reportOnce("no desktop notification service answers (" +
                               finished->error().name().toStdString() + ")");
                }
                finished->deleteLater();
            });
}

RepairSettings desktopRepairSettings() {
    // The locale's forms and the GBK converter are loaded now, on the window's thread, rather
    // than by the first attack's line.
    (void)attackLogLine(currentDateTime());
    auto settings = systemRepairSettings(currentDateTime);
    settings.translate = qtTranslator();
    auto notices = std::make_shared<DesktopNotices>(settings.report);
    settings.notify = [notices](const Notice& notice) { notices->show(notice); };
    return settings;
}

} // namespace tarnvik::qt
