// SPDX-License-Identifier: MIT
#include "form1_window.h"
#include "icon.h"
#include "language.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>
#include <QShowEvent>

#include <limits>

namespace tarnvik::qt {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// What the window tells goes in the language its captions are in.
RepairSettings inWindowLanguage(RepairSettings repair) {
    if (!repair.translate) {
        repair.translate = qtTranslator();
    }
    return repair;
}

} // namespace

Form1Window::Form1Window(Form1::EchoClientFactory makeEchoClient, RepairSettings repair,
                         QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      form1_(*this, std::move(makeEchoClient), inWindowLanguage(std::move(repair)), [this] {
          // From the worker: the outcome is handled on this window's thread.
          QMetaObject::invokeMethod(
              this, [this] { form1_.outcomeReady(); }, Qt::QueuedConnection);
      }) {
    createControls();
    form1_.Form_Load();
    if (const int events = form1_.neighbourEventDescriptor(); events >= 0) {
        neighbourNotifier_ = std::make_unique<QSocketNotifier>(events, QSocketNotifier::Read);
        connect(neighbourNotifier_.get(), &QSocketNotifier::activated, this,
                [this] { form1_.neighbourEventsReady(); });
    }
}

void Form1Window::createControls() {
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(captions::kForm1));
    setWindowIcon(smilingFaceIcon());
    const double dpi = screen()->logicalDotsPerInch();
    setFixedSize(twipsToPixels(kClientWidthTwips, dpi), twipsToPixels(kClientHeightTwips, dpi));

    auto named = [](QWidget* widget, const char* name) {
        widget->setObjectName(name);
        return widget;
    };
    auto frame = [&](Control control, const char* name, const char* title) {
        auto* box = new QGroupBox(QCoreApplication::translate("Tarnvik", title), this);
        named(box, name);
        placeInTwips(box, twipsGeometry(control), dpi);
        return box;
    };
    auto targetBox = [&](QGroupBox* container, Control control, const char* name) {
        auto* box = new QLineEdit(container);
        named(box, name);
        placeInTwips(box, twipsGeometry(control), dpi);
        box->setMaxLength(std::numeric_limits<int>::max());
        box->setToolTip(QString::fromUtf8(captions::kTargetTip));
        return box;
    };
    auto button = [&](Control control, const char* name, const char* text) {
        auto* push = new QPushButton(QCoreApplication::translate("Tarnvik", text), this);
        named(push, name);
        push->setAutoDefault(false);
        placeInTwips(push, twipsGeometry(control), dpi);
        return push;
    };
    auto label = [&](Control control, const char* name, const char* text) {
        auto* legend = new QLabel(QCoreApplication::translate("Tarnvik", text), this);
        named(legend, name);
        const TwipsRect at = twipsGeometry(control);
        legend->move(twipsToPixels(at.left, dpi), twipsToPixels(at.top, dpi));
        legend->adjustSize();
        return legend;
    };

    zdip = frame(Control::zdip, "zdip", texts::kZdip);
    txtPing = targetBox(zdip, Control::txtPing, "txtPing");
    zdym = frame(Control::zdym, "zdym", texts::kZdym);
    txtConvert = targetBox(zdym, Control::txtConvert, "txtConvert");
    zdym->hide();
    Label2 = label(Control::Label2, "Label2", texts::kLabel2);
    Shape1 = new Lamp(this);
    named(Shape1, "Shape1");
    placeInTwips(Shape1, twipsGeometry(Control::Shape1), dpi);
    Label3 = label(Control::Label3, "Label3", texts::kLabel3);
    zx = button(Control::zx, "zx", texts::kStart);
    qb = button(Control::qb, "qb", texts::kSwitchToHostName);

    List1 = new QListWidget(this);
    named(List1, "List1");
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    placeInTwips(List1, twipsGeometry(Control::List1), dpi);
    cmdFormat = button(Control::cmdFormat, "cmdFormat", texts::kCmdFormat);
    Command1 = button(Control::Command1, "Command1", texts::kCommand1);
    Command2 = button(Control::Command2, "Command2", texts::kCommand2);

    // Names for assistive technology where no caption of its own gives one.
    txtPing->setAccessibleName(zdip->title());
    txtConvert->setAccessibleName(zdym->title());
    Shape1->setAccessibleName(Label2->text());
    List1->setAccessibleName(QCoreApplication::translate("Tarnvik", texts::kList1));

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kTimerInterval);
    Timer1->setTimerType(Qt::PreciseTimer);

    for (std::size_t i = 1; i < std::size(kTabOrder); ++i) {
        QWidget::setTabOrder(widget(kTabOrder[i - 1]), widget(kTabOrder[i]));
    }
    widget(kTabOrder[0])->setFocus();

    connect(zx, &QPushButton::clicked, this, [this] { form1_.zx_Click(); });
    connect(qb, &QPushButton::clicked, this, [this] { form1_.qb_Click(); });
    connect(cmdFormat, &QPushButton::clicked, this, [this] { form1_.cmdFormat_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { form1_.Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { form1_.Command2_Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { form1_.Timer1_Timer(); });
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(static_cast<int>(kAnnounceInterval.count()));
    connect(Timer2, &QTimer::timeout, this, [this] { form1_.Timer2_Timer(); });
}

void Form1Window::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        QRect placed = frameGeometry();
        placed.moveCenter(screen()->availableGeometry().center());
        move(placed.topLeft());
    }
    QWidget::showEvent(event);
}

void Form1Window::closeEvent(QCloseEvent* event) {
    form1_.Form_QueryUnload();
    event->accept();
}

QWidget* Form1Window::widget(Control control) const {
    switch (control) {
    case Control::zdip:
        return zdip;
    case Control::txtPing:
        return txtPing;
    case Control::zdym:
        return zdym;
    case Control::txtConvert:
        return txtConvert;
    case Control::Label2:
        return Label2;
    case Control::Shape1:
        return Shape1;
    case Control::Label3:
        return Label3;
    case Control::zx:
        return zx;
    case Control::qb:
        return qb;
    case Control::List1:
        return List1;
    case Control::cmdFormat:
        return cmdFormat;
    case Control::Command1:
        return Command1;
    case Control::Command2:
        return Command2;
    case Control::Timer1:
    case Control::Timer2:
        break;
    }
    return nullptr;
}

std::string Form1Window::caption(Control button) const {
    return toUtf8(static_cast<QPushButton*>(widget(button))->text());
}

void Form1Window::setCaption(Control button, const std::string& caption) {
    static_cast<QPushButton*>(widget(button))->setText(fromUtf8(caption));
}

std::string Form1Window::text(Control box) const {
    return toUtf8(static_cast<QLineEdit*>(widget(box))->text());
}

void Form1Window::setText(Control box, const std::string& text) {
    static_cast<QLineEdit*>(widget(box))->setText(fromUtf8(text));
}

bool Form1Window::visible(Control frame) const {
    return !widget(frame)->isHidden();
}

void Form1Window::setVisible(Control frame, bool shown) {
    widget(frame)->setVisible(shown);
}

void Form1Window::setEnabled(Control control, bool enabled) {
    if (control == Control::Timer1 || control == Control::Timer2) {
        QTimer* timer = control == Control::Timer1 ? Timer1 : Timer2;
        if (enabled) {
            timer->start();
        } else {
            timer->stop();
        }
        return;
    }
    widget(control)->setEnabled(enabled);
}

void Form1Window::clear(Control list) {
    static_cast<QListWidget*>(widget(list))->clear();
}

void Form1Window::addItem(Control list, const std::string& line) {
    static_cast<QListWidget*>(widget(list))->addItem(fromUtf8(line));
}

void Form1Window::setFillColor(Control shape, std::uint32_t colorValue) {
    static_cast<Lamp*>(widget(shape))->setFillColor(colorValue);
}

void Form1Window::setToolTip(Control control, const std::string& text) {
    if (control == Control::Shape1) {
        static_cast<Lamp*>(widget(control))->setState(fromUtf8(text));
    } else {
        widget(control)->setToolTip(fromUtf8(text));
    }
}

} // namespace tarnvik::qt
