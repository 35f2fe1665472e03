// SPDX-License-Identifier: MIT
#include "diagnostics.h"
#include "form1_window.h"
#include "options.h"
#include "system.h"

#include <shellapi.h>

#include <cstdlib>

// The program ends on an uncaught exception as the default handler would, but without its
// demangling of the exception's type for a console nobody sees: that costs 45 KB of the one
// executable.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    ::OutputDebugStringW(L"tarnvik: ended by an uncaught exception\r\n");
    std::abort();
}
} // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    std::vector<std::string> arguments;
    int count = 0;
    if (LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(tarnvik::win32::narrow(words[i]));
        }
        ::LocalFree(words);
    }
    const auto options = tarnvik::parseOptions(arguments);
    if (!options.error.empty() || options.help || options.version) {
        // A program of the GUI subsystem has no console of its own: the text goes to the standard
        // error or the console it was started from, so that scripts can read it; in a message
        // box only where there is neither (started from Explorer or a shortcut).
        const std::string text =
            options.version ? std::string("tarnvik " TARNVIK_VERSION)
            : options.help
                ? std::string(tarnvik::kUsage)
                : "tarnvik: " + tarnvik::printableExcerpt(options.error) + "\n\n" + tarnvik::kUsage;
        if (!tarnvik::win32::writeText(text + "\r\n")) {
            ::MessageBoxW(nullptr, tarnvik::win32::widen(text).c_str(), L"Tarnvik",
                          options.error.empty() ? MB_ICONINFORMATION : MB_ICONERROR);
        }
        return options.error.empty() ? 0 : 2;
    }
    const auto launch = tarnvik::resolveLaunch(options, tarnvik::os::configurationLayers());
    if (options.autostart && !launch.start) {
        return 0;
    }
    for (const auto& line : tarnvik::os::startupDiagnostics()) {
        tarnvik::os::report(line.render());
    }
    for (const auto& problem : launch.problems) {
        tarnvik::os::report(problem);
    }
    auto repair = tarnvik::systemRepairSettings(tarnvik::win32::currentDateTime);
    // Also without --guard: every start releases what a killed run left held.
    repair.guard = tarnvik::systemGuardSettings(repair);
    repair.guard->holds = launch.guard;
    for (const auto& problem : launch.problems) {
        repair.problems.push_back({tarnvik::texts::kSettingIgnored, {problem}});
    }
    tarnvik::win32::Form1Window window([] { return std::make_unique<tarnvik::cping>(); },
                                       std::move(repair));
    if (!window.create(showCommand)) {
        tarnvik::os::report("cannot create the window: " +
                            tarnvik::os::errorText(static_cast<int>(::GetLastError())));
        return 1;
    }
    if (launch.target) {
        window.launch(*launch.target, launch.start);
    }
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.translate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
