// The program's one window. Its logic is a set of handlers named after their control and event;
// run state and target mode live in the captions and frame visibility, not in variables.
#pragma once

#include "controls.h"
#include "cping.h"
#include "repair.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tarnvik {

namespace captions {
inline constexpr const char* kForm1 = "Tarnvik";
inline constexpr const char* kZdip = "确保到指定IP地址畅通";
inline constexpr const char* kZdym = "确保到指定域名畅通";
inline constexpr const char* kLabel2 = "状态指示";
inline constexpr const char* kLabel3 = "绿色代表畅通，红色代表故障";
inline constexpr const char* kStart = "开始运行";
inline constexpr const char* kStop = "停止运行";
inline constexpr const char* kSwitchToHostName = "切换 - > 确保到指定域名畅通";
inline constexpr const char* kSwitchToAddress = "切换 - > 确保到指定IP畅通";
inline constexpr const char* kCmdFormat = "转换WWW地址到IP(&C)";
inline constexpr const char* kCommand1 = "&Ping";
inline constexpr const char* kCommand2 = "修复";
inline constexpr const char* kTargetTip =
    "you may enter an ip address or a string address in either \"www.example.com\" or "
    "http://www.example.com\" OR \"http://example.com\" format";
} // namespace captions

inline constexpr std::uint32_t kGreen = 65280;
inline constexpr std::uint32_t kRed = 255;
inline constexpr int kTimerInterval = 1000;
inline constexpr int kClientWidthTwips = 3375;
inline constexpr int kClientHeightTwips = 2385;

class Form1 : public QWidget {
    Q_OBJECT
  public:
    using EchoClientFactory = std::function<std::unique_ptr<cping>()>;

    explicit Form1(
        EchoClientFactory makeEchoClient = [] { return std::make_unique<cping>(); },
        RepairSettings repair = systemRepairSettings(), QWidget* parent = nullptr);
    ~Form1() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    friend class Form1TestAccess;

    void Form_Load();
    void Form_QueryUnload();
    void zx_Click();
    void Timer1_Timer();
    void cping_PingReturn(std::string& ipAddress, std::string& successStatus,
                          std::int32_t& roundTripMilliseconds);
    void Command2_Click();
    void qb_Click();
    void cmdFormat_Click();
    void Command1_Click();

    void createControls();
    // The probe of Command1 and of every tick: a copy of the box's text goes to Ping.
    void probeTarget();
    void reportUnresolved(const std::string& name);

    QGroupBox* zdip = nullptr;
    QLineEdit* txtPing = nullptr;
    QGroupBox* zdym = nullptr;
    QLineEdit* txtConvert = nullptr;
    QLabel* Label2 = nullptr;
    controls::Lamp* Shape1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* zx = nullptr;
    QPushButton* qb = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* cmdFormat = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QTimer* Timer1 = nullptr;

    EchoClientFactory makeEchoClient_;
    std::unique_ptr<cping> cping_;
    std::function<void(const std::string&)> report_;
    RepairAction repair_;
    bool centred_ = false;
};

} // namespace tarnvik
