#include "form1.h"
#include "diagnostics.h"
#include "icon.h"

#include <QCloseEvent>
#include <QScreen>
#include <QShowEvent>

#include <limits>

namespace tarnvik {

using namespace controls;

Form1::Form1(EchoClientFactory makeEchoClient, RepairSettings repair, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      makeEchoClient_(std::move(makeEchoClient)), report_(repair.report),
      repair_(std::move(repair)) {
    createControls();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::createControls() {
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(captions::kForm1));
    setWindowIcon(smilingFaceIcon());
    const double dpi = screen()->logicalDotsPerInch();
    setFixedSize(twipsToPixels(kClientWidthTwips, dpi), twipsToPixels(kClientHeightTwips, dpi));

    auto named = [](QWidget* widget, const char* name) {
        widget->setObjectName(name);
        return widget;
    };
    auto frame = [&](const char* name, const char* title) {
        auto* box = new QGroupBox(QString::fromUtf8(title), this);
        named(box, name);
        placeInTwips(box, 120, 120, 2295, 735, dpi);
        return box;
    };
    auto targetBox = [&](QGroupBox* container, const char* name) {
        auto* box = new QLineEdit(container);
        named(box, name);
        placeInTwips(box, 240, 240, 1935, 330, dpi);
        box->setMaxLength(std::numeric_limits<int>::max());
        box->setToolTip(QString::fromUtf8(captions::kTargetTip));
        return box;
    };
    auto button = [&](const char* name, const char* text, int left, int top, int width) {
        auto* push = new QPushButton(QString::fromUtf8(text), this);
        named(push, name);
        push->setAutoDefault(false);
        placeInTwips(push, left, top, width, 375, dpi);
        return push;
    };
    auto label = [&](const char* name, const char* text, int left, int top) {
        auto* legend = new QLabel(QString::fromUtf8(text), this);
        named(legend, name);
        legend->move(twipsToPixels(left, dpi), twipsToPixels(top, dpi));
        legend->adjustSize();
        return legend;
    };

    zdip = frame("zdip", captions::kZdip);
    txtPing = targetBox(zdip, "txtPing");
    zdym = frame("zdym", captions::kZdym);
    txtConvert = targetBox(zdym, "txtConvert");
    zdym->hide();
    Label2 = label("Label2", captions::kLabel2, 2520, 240);
    Shape1 = new Lamp(this);
    named(Shape1, "Shape1");
    placeInTwips(Shape1, 2760, 480, 255, 255, dpi);
    Label3 = label("Label3", captions::kLabel3, 480, 960);
    zx = button("zx", captions::kStart, 120, 1320, 3135);
    qb = button("qb", captions::kSwitchToHostName, 120, 1680, 3135);

    // Beyond the right and bottom edges of the fixed client area: never seen, yet visible and
    // enabled, so the access keys and the Tab key still reach them.
    List1 = new QListWidget(this);
    named(List1, "List1");
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    placeInTwips(List1, 2640, 3720, 4080, 1860, dpi);
    cmdFormat = button("cmdFormat", captions::kCmdFormat, 4560, 6240, 2145);
    Command1 = button("Command1", captions::kCommand1, 7080, 6120, 855);
    Command2 = button("Command2", captions::kCommand2, 7080, 6480, 855);

    // Names for assistive technology where no caption of its own gives one.
    txtPing->setAccessibleName(zdip->title());
    txtConvert->setAccessibleName(zdym->title());
    Shape1->setAccessibleName(Label2->text());
    List1->setAccessibleName("Ping results");

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kTimerInterval);
    Timer1->setTimerType(Qt::PreciseTimer);

    QWidget::setTabOrder(Command1, cmdFormat);
    QWidget::setTabOrder(cmdFormat, List1);
    QWidget::setTabOrder(List1, Command2);
    QWidget::setTabOrder(Command2, txtPing);
    QWidget::setTabOrder(txtPing, txtConvert);
    QWidget::setTabOrder(txtConvert, qb);
    QWidget::setTabOrder(qb, zx);
    Command1->setFocus();

    connect(zx, &QPushButton::clicked, this, &Form1::zx_Click);
    connect(qb, &QPushButton::clicked, this, &Form1::qb_Click);
    connect(cmdFormat, &QPushButton::clicked, this, &Form1::cmdFormat_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

void Form1::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        QRect placed = frameGeometry();
        placed.moveCenter(screen()->availableGeometry().center());
        move(placed.topLeft());
    }
    QWidget::showEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
}

void Form1::Form_Load() {
    cping_ = makeEchoClient_ ? makeEchoClient_() : nullptr;
    if (cping_) {
        cping_->PingReturn = [this](std::string& ipAddress, std::string& successStatus,
                                    std::int32_t& roundTripMilliseconds) {
            cping_PingReturn(ipAddress, successStatus, roundTripMilliseconds);
        };
    }
}

void Form1::Form_QueryUnload() {
    cping_.reset();
}

void Form1::zx_Click() {
    const std::string state = caption(zx);
    if (state == captions::kStart) {
        setCaption(zx, captions::kStop);
        controls::setEnabled(qb, false);
        if (visible(zdym)) {
            cmdFormat_Click();
        }
        controls::setEnabled(Timer1, true);
    } else if (state == captions::kStop) {
        setCaption(zx, captions::kStart);
        controls::setEnabled(qb, true);
        controls::setEnabled(Timer1, false);
    }
}

void Form1::Timer1_Timer() {
    clear(List1);
    probeTarget();
}

void Form1::probeTarget() {
    if (!cping_) {
        return;
    }
    const std::string typed = text(txtPing);
    std::string target = typed;
    cping_->Ping(target);
    // Only a web-style text is rewritten to empty: its name did not resolve.
    if (target.empty()) {
        reportUnresolved(typed);
    }
}

void Form1::reportUnresolved(const std::string& name) {
    // A blank text names nothing, so nothing failed to resolve.
    if (report_ && name.find_first_not_of(' ') != std::string::npos) {
        report_("cannot resolve " + printableExcerpt(name) + " to an IPv4 address");
    }
}

void Form1::cping_PingReturn(std::string& ipAddress, std::string& successStatus,
                             std::int32_t& roundTripMilliseconds) {
    addItem(List1, ipAddress + '\t' + successStatus + '\t' + std::to_string(roundTripMilliseconds));
    if (successStatus == "success") {
        Shape1->setFillColor(kGreen);
    } else {
        Shape1->setFillColor(kRed);
        Command2_Click();
    }
}

void Form1::Command2_Click() {
    repair_.run();
}

void Form1::qb_Click() {
    const std::string mode = caption(qb);
    if (mode == captions::kSwitchToAddress) {
        setCaption(qb, captions::kSwitchToHostName);
        controls::setVisible(zdip, true);
        controls::setVisible(zdym, false);
    } else if (mode == captions::kSwitchToHostName) {
        setCaption(qb, captions::kSwitchToAddress);
        controls::setVisible(zdym, true);
        controls::setVisible(zdip, false);
    }
}

void Form1::cmdFormat_Click() {
    if (cping_) {
        const std::string name = text(txtConvert);
        const std::string address = cping_->funcGetIPFromHostName(name);
        setText(txtPing, address);
        if (address.empty()) {
            reportUnresolved(name);
        }
    }
}

void Form1::Command1_Click() {
    probeTarget();
}

} // namespace tarnvik
