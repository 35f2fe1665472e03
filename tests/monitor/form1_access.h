// SPDX-License-Identifier: MIT
// Reaches the handlers that only the toolkit calls (the timer's tick, the probe outcome), on the
// window's logic or through a binding's window.
#pragma once

#include "form1.h"

namespace tarnvik {

class Form1TestAccess {
  public:
    // A tick, and every probe it starts handled, as the window's loop would.
    static void tick(Form1& form) {
        form.Timer1_Timer();
        settle(form);
    }
    // Waits for the probes and lookups that are out and handles their outcomes.
    static void settle(Form1& form) {
        while (form.offload_.finish()) {
        }
    }
    // The outcome of a probe of `ip` as typed.
    static void outcome(Form1& form, std::string ip, std::string status, std::int32_t rtt) {
        form.probing_ = ip;
        form.cping_PingReturn(ip, status, rtt);
    }
    template <typename Window> static void tick(Window& window) { tick(window.form1_); }
    template <typename Window> static void settle(Window& window) { settle(window.form1_); }
    template <typename Window>
    static void outcome(Window& window, std::string ip, std::string status, std::int32_t rtt) {
        outcome(window.form1_, std::move(ip), std::move(status), rtt);
    }
};

} // namespace tarnvik
