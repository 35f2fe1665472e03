// Reaches the handlers that only the toolkit calls: the timer's tick and the probe outcome.
#pragma once

#include "form1.h"

namespace tarnvik {

class Form1TestAccess {
  public:
    static void tick(Form1& form) { form.Timer1_Timer(); }
    static void outcome(Form1& form, std::string ip, std::string status, std::int32_t rtt) {
        form.cping_PingReturn(ip, status, rtt);
    }
};

} // namespace tarnvik
