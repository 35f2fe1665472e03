// SPDX-License-Identifier: MIT
// The window on Qt 6 Widgets: creates the controls with their names, captions, twips geometry at
// the screen's resolution, tab order, focus and access keys, implements the toolkit operations
// over them, and routes their events to the window's handlers.
#pragma once

#include "controls.h"
#include "date_time.h"
#include "desktop_notices.h"
#include "form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

namespace tarnvik::qt {

class Form1Window : public QWidget, private Controls {
    Q_OBJECT
  public:
    explicit Form1Window(
        Form1::EchoClientFactory makeEchoClient = [] { return std::make_unique<cping>(); },
        RepairSettings repair = desktopRepairSettings(), QWidget* parent = nullptr);
    // An unattended start: Form1::launch.
    bool launch(const std::string& target, bool start) { return form1_.launch(target, start); }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    friend class tarnvik::Form1TestAccess;

    void createControls();
    QWidget* widget(Control control) const;

    std::string caption(Control button) const override;
    void setCaption(Control button, const std::string& caption) override;
    std::string text(Control box) const override;
    void setText(Control box, const std::string& text) override;
    bool visible(Control frame) const override;
    void setVisible(Control frame, bool shown) override;
    void setEnabled(Control control, bool enabled) override;
    void clear(Control list) override;
    void addItem(Control list, const std::string& line) override;
    void setFillColor(Control shape, std::uint32_t colorValue) override;
    void setToolTip(Control control, const std::string& text) override;

    QGroupBox* zdip = nullptr;
    QLineEdit* txtPing = nullptr;
    QGroupBox* zdym = nullptr;
    QLineEdit* txtConvert = nullptr;
    QLabel* Label2 = nullptr;
    Lamp* Shape1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* zx = nullptr;
    QPushButton* qb = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* cmdFormat = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    Form1 form1_;
    bool centred_ = false;
    // The kernel's neighbour notifications, taken on this window's own event loop.
    std::unique_ptr<QSocketNotifier> neighbourNotifier_;
};

} // namespace tarnvik::qt
