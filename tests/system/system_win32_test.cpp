// SPDX-License-Identifier: MIT
// The system layer of the Windows edition under Wine: the log line's bytes, appending, and the
// hidden start.
#include "repair.h"
#include "system.h"
#include "system_win32.h"

#include <gtest/gtest.h>
#include <iphlpapi.h>
#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace tarnvik {
namespace {

namespace fs = std::filesystem;

const std::string kGbkLabel = "\xb7\xa2\xc9\xfa"
                              "arp"
                              "\xb9\xa5\xbb\xf7\xb5\xc4\xca\xb1\xbc\xe4\xa3\xba";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

fs::path freshDirectory(const char* name) {
    const fs::path dir = fs::temp_directory_path() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(Win32System, LogLineIsGbkWithTheLocalesDateAndTimeAndCrLf) {
    const SYSTEMTIME morning{2026, 12, 1, 7, 9, 5, 3, 0};
    const SYSTEMTIME midnight{2026, 1, 5, 2, 0, 0, 0, 0};
    EXPECT_EQ(win32::generalDateTime(morning, L"zh-CN"), "2026/12/7 09:05:03");
    EXPECT_EQ(win32::generalDateTime(morning, L"en-US"), "12/7/2026 9:05:03 AM");
    EXPECT_EQ(win32::generalDateTime(midnight, L"zh-CN"), "2026/1/2");
    EXPECT_EQ(win32::generalDateTime(morning, L"xx-no-such-locale"), "2026/12/7 9:05:03");
    for (const wchar_t* locale : {L"ar-EG", L"fa-IR"}) { // never '?' in place of a digit
        EXPECT_EQ(os::toGbk(win32::generalDateTime(morning, locale)).find('?'), std::string::npos);
    }
    EXPECT_EQ(attackLogLine("2026/12/7 9:05:03"), kGbkLabel + "2026/12/7 9:05:03\r\n");
    EXPECT_EQ(os::toGbk("a\xe2\x98\x83z"), "a?z");
}

TEST(Win32System, AppendsWholeLinesAndNeverThroughALink) {
    const fs::path dir = freshDirectory("tarnvik-append");
    const fs::path log = dir / "arp_log.log";
    EXPECT_EQ(os::appendInOneWrite(log, "one\r\n"), 0);
    EXPECT_EQ(os::appendInOneWrite(log, "two\r\n"), 0);
    EXPECT_EQ(readFile(log), "one\r\ntwo\r\n");

    const fs::path linked = dir / "linked.log";
    // Wine 8 answers CreateSymbolicLinkW with success and makes nothing.
    const DWORD made = ::CreateSymbolicLinkW(linked.c_str(), log.c_str(), 0)
                           ? ::GetFileAttributesW(linked.c_str())
                           : INVALID_FILE_ATTRIBUTES;
    if (made == INVALID_FILE_ATTRIBUTES || (made & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "no symbolic links can be made here";
    }
    EXPECT_NE(os::appendInOneWrite(linked, "three\r\n"), 0);
    EXPECT_EQ(readFile(log), "one\r\ntwo\r\n");
}

TEST(Win32System, CommandStartsHiddenWithoutConsoleAndIsNotAwaited) {
    const fs::path dir = freshDirectory("tarnvik-start");
    fs::copy_file(COMMAND_DOUBLE, dir / "arp.exe");
    const fs::path gate = dir / "gate";
    ::SetEnvironmentVariableW(L"TARNVIK_DOUBLE_GATE", gate.c_str());
    // The double waits for the gate, which opens only once the start has returned.
    EXPECT_EQ(os::startDetached({os::pathText(dir / "arp.exe"), "-d"}, true), 0);
    std::ofstream(gate) << "open";
    ::SetEnvironmentVariableW(L"TARNVIK_DOUBLE_GATE", nullptr);
    const fs::path marks = dir / "command_double.log";
    for (int i = 0; i < 500 && readFile(marks).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(readFile(marks).find("arp.exe -d\tshow=0\tconsole=0\r\n"), std::string::npos)
        << readFile(marks);
    EXPECT_EQ(os::startDetached({"tarnvik-no-such-command"}, false), ERROR_FILE_NOT_FOUND);
}

// The guard on Windows: arp -s ADDRESS MAC IFADDR to hold, run to its end; arp -d ADDRESS IFADDR
// only for the static entry that holds what we held (here the table shows none: nothing to
// release); an interface without an address holds nothing; a static entry is never replaced, and
// one holding another address never deleted. A copy's record of its hold names it as running,
// and names no other process.
TEST(Win32System, GuardHoldsAndReleasesOnTheInterfaceAndRecordsItsOwner) {
    const fs::path dir = freshDirectory("tarnvik-guard");
    fs::copy_file(COMMAND_DOUBLE, dir / "arp.exe");
    RepairSettings settings{dir, {os::pathText(dir / "arp.exe"), "-d"}, nullptr, nullptr};
    ULONG size = 0;
    ::GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    ASSERT_EQ(::GetIpAddrTable(table, &size, FALSE), static_cast<DWORD>(NO_ERROR));
    NeighbourReading genuine;
    genuine.nextHop = ipv4FromOctets(198, 18, 0, 2);
    genuine.linkAddress = "02:00:00:00:00:02";
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwAddr == ::htonl(INADDR_LOOPBACK)) {
            genuine.interfaceIndex = static_cast<int>(table->table[i].dwIndex);
        }
    }
    ASSERT_NE(genuine.interfaceIndex, 0) << "no loopback interface";
    const auto guard = systemGuardSettings(settings);
    EXPECT_TRUE(guard.hold(genuine).succeeded());
    EXPECT_TRUE(guard.release(genuine).succeeded());
    auto elsewhere = genuine;
    elsewhere.interfaceIndex = 999999;
    EXPECT_EQ(guard.hold(elsewhere).error, ERROR_NOT_FOUND);
    const std::string all = readFile(dir / "command_double.log");
    EXPECT_NE(all.find("arp.exe -s 198.18.0.2 02-00-00-00-00-02 127.0.0.1\t"), std::string::npos)
        << all;
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1) << all;
    struct Row {
        const char* state;
        const char* mac;
        bool release;
        std::optional<int> refusal; // exit status of the refusal; none: go on
    };
    const Row rows[] = {
        {"PERMANENT", "02:00:00:00:00:09", false, 3}, // an administrator's static entry
        {"PERMANENT", "02:00:00:00:00:02", false, 3},
        {"STALE", "02:00:00:00:00:66", false, std::nullopt},
        {"none", "", false, std::nullopt},
        {"PERMANENT", "02:00:00:00:00:02", true, std::nullopt}, // ours
        {"PERMANENT", "02:00:00:00:00:09", true, 0},            // another's: left, no failure
        {"STALE", "02:00:00:00:00:02", true, 0},
    };
    for (const auto& row : rows) {
        NeighbourReading now = genuine;
        now.state = row.state;
        now.linkAddress = row.mac;
        const auto refusal = win32::guardRefusal(now, genuine, row.release);
        EXPECT_EQ(refusal ? std::optional(refusal->exitStatus) : std::nullopt, row.refusal)
            << row.state << " " << row.mac << (row.release ? " release" : " hold");
    }

    EXPECT_TRUE(os::processRunning(os::processToken()));
    EXPECT_FALSE(os::processRunning(std::to_string(::GetCurrentProcessId()) + " 1"));
    EXPECT_FALSE(os::processRunning("4294967295 1"));
    EXPECT_EQ(os::replaceFile(dir / "record", "a longer text", false), 0);
    EXPECT_EQ(os::replaceFile(dir / "record", "short", false), 0);
    EXPECT_EQ(os::readSmallFile(dir / "record", 64), "short");
    EXPECT_EQ(os::filesIn(dir).size(), 3u) << "arp.exe, its log and the record";
    EXPECT_EQ(os::removeFile(dir / "record"), 0);
    EXPECT_EQ(os::removeFile(dir / "record"), 0) << "gone already";
    EXPECT_FALSE(os::readSmallFile(dir / "record", 64));
}

// Event Viewer shows each record with the message of its event ID from tarnvik.exe.
TEST(Win32System, EveryKindOfRecordHasAMessageShowingItsTextAsItStands) {
    const HMODULE program =
        ::LoadLibraryExW(win32::widen(TARNVIK_EXE).c_str(), nullptr,
                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr) << ::GetLastError();
    const std::wstring text = L"\u53d1\u751farp 100% %2 2026/12/7 9:05:03";
    for (const auto kind : {SystemRecord::attack, SystemRecord::evidenceChanged,
                            SystemRecord::evidence, SystemRecord::repairFailure}) {
        const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
        wchar_t shown[256] = {};
        const DWORD length =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program,
                             static_cast<DWORD>(kind), 0, shown, 256,
                             reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
        EXPECT_EQ(std::wstring(shown, length), text) << "event ID " << static_cast<int>(kind);
    }
    ::FreeLibrary(program);
}

// A report of a program started from a console borrows that console for the write alone: one
// that kept it would end when the console is closed.
TEST(Win32System, ReportReachesTheParentsConsoleAndLeavesNoConsoleAttached) {
    ::FreeConsole();
    if (!::AllocConsole()) {
        GTEST_SKIP() << "no console can be made here: " << ::GetLastError();
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES; // no standard error: the console is all there is
    PROCESS_INFORMATION started{};
    std::wstring line = win32::widen(REPORT_ONCE);
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                 nullptr, nullptr, &startup, &started));
    ::WaitForSingleObject(started.hProcess, 30000);
    DWORD status = 2;
    ::GetExitCodeProcess(started.hProcess, &status);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    EXPECT_EQ(status, 0u) << "the reporting process still held a console";
    const win32::UniqueHandle screen(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
    wchar_t shown[64] = {};
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(screen.get(), shown, 63, COORD{0, 0}, &read);
    EXPECT_EQ(std::wstring(shown, read).find(L"tarnvik: console check"), 0u) << shown;
    ::FreeConsole();
}

// Links of every kind are refused; the reparse points of OneDrive's placeholders and of
// deduplicated files are written through, or every repair in such a folder would be lost.
TEST(Win32System, OnlyNameSurrogateReparsePointsAreRefused) {
    struct Case {
        DWORD tag;
        bool refused;
    };
    const Case cases[] = {
        {IO_REPARSE_TAG_SYMLINK, true},    {IO_REPARSE_TAG_MOUNT_POINT, true},
        {0x9000001A /* cloud */, false},   {0x9000601A /* cloud, 6 */, false},
        {IO_REPARSE_TAG_DEDUP, false},     {0x80000023 /* AF_UNIX socket */, false},
        {0xA0000027 /* WCI link */, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(win32::refusedReparseTag(c.tag), c.refused) << std::hex << c.tag;
    }
}

// The policy key's values are all locked and come first; text and numbers both read.
TEST(Win32System, ConfigurationFromThePolicyKeyThenTheUsersKey) {
    const DWORD one = 1;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tarnvik", L"start",
                                REG_DWORD, &one, sizeof one),
              ERROR_SUCCESS);
    const wchar_t target[] = L"198.18.0.2";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Tarnvik", L"target", REG_SZ, target,
                                sizeof target),
              ERROR_SUCCESS);
    const auto layers = os::configurationLayers();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tarnvik");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tarnvik");
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].values, (decltype(layers[0].values){std::nullopt, "1", std::nullopt}));
    EXPECT_EQ(layers[0].locked, (decltype(layers[0].locked){false, true, false}));
    EXPECT_EQ(layers[1].values,
              (decltype(layers[1].values){"198.18.0.2", std::nullopt, std::nullopt}));
    const auto launch = resolveLaunch({}, layers);
    EXPECT_TRUE(launch.start);
    EXPECT_EQ(launch.target, "198.18.0.2");
}

} // namespace
} // namespace tarnvik
