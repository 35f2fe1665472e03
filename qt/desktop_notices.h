// SPDX-License-Identifier: MIT
// Desktop notifications on Linux: the freedesktop notification service on the session bus,
// called without waiting for its answer. Where no service answers, nothing is shown, and that is
// said once.
#pragma once

#include "notices.h"
#include "repair.h"

#include <QObject>

#include <functional>
#include <string>

namespace tarnvik::qt {

class DesktopNotices : public QObject {
    Q_OBJECT
  public:
    explicit DesktopNotices(std::function<void(const std::string&)> report);
    void show(const Notice& notice);

  private:
    void reportOnce(const std::string& line);

    std::function<void(const std::string&)> report_;
    bool reported_ = false;
};

// This machine's repair settings, with each attack episode told on the desktop.
RepairSettings desktopRepairSettings();

} // namespace tarnvik::qt
