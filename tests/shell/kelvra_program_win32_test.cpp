// kelvra.exe from the outside: the tray program and its installer as separate
// processes of the test prefix, driven through their real windows with the
// messages that the tray and the menu send, against the account-service
// stand-in (reached through the proxy of the settings, so that the program's
// own service address is left as built).

#include <gtest/gtest.h>

#ifdef KELVRA_KELVRA_EXE

#include "common/win32.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/handles_win32.h"
#include "common/textconv.h"
#include "shell/main.h"
#include "shell/main_form_win32.h"
#include "shell/resource.h"
#include "shell/startup_win32.h"
#include "support/account_service_win32.h"
#include "support/allowed_skip.h"
#include "support/message_boxes.h"
#include "support/process_win32.h"
#include "support/saved_user_state_win32.h"
#include "support/slow_share_win32.h"
#include "support/temp_dir.h"
#include "support/tray_windows_win32.h"
#include "support/uninstall_keys_win32.h"
#include "support/version_blocks.h"

// After common/win32.h, which brings in <windows.h>.
#include <shellapi.h>

namespace kelvra {
namespace {

using testing::BalloonShows;
using testing::Quoted;
using testing::SavedUserState;
using testing::WaitUntil;
using testing::WindowsOf;

const std::wstring kGreeting = L"Kelvra is running in your tray. Right click for options";
const std::wstring kUpdated = L"Version information updated... Click here to visit your profile!";
const std::wstring kAlreadyRunning =
    L"Kelvra is already running in your tray. Right click for options";
const std::wstring kNoAccount =
    L"No username and password are specified. Click here to change your settings";

std::wstring KelvraExe() { return testing::HostPathToWindows(KELVRA_KELVRA_EXE); }

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// One tray program: started here, or found by its window when the shell
// started it.
class TrayProcess {
  public:
    static TrayProcess Start(const std::wstring& exe) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring line = Quoted(exe);
        if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return TrayProcess(nullptr, 0);
        CloseHandle(info.hThread);
        return TrayProcess(info.hProcess, info.dwProcessId);
    }
    // The tray program whose main window shows up first, within the time.
    static TrayProcess Find(unsigned long timeoutMs) {
        DWORD id = 0;
        WaitUntil(
            [&] {
                const auto windows = WindowsOf(0, TKelvraMainForm::kClassName, false);
                if (!windows.empty()) GetWindowThreadProcessId(windows.front(), &id);
                return id != 0;
            },
            timeoutMs);
        return TrayProcess(
            id ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id) : nullptr,
            id);
    }

    TrayProcess(TrayProcess&&) = default;
    ~TrayProcess() {
        if (!process_ || !Running()) return;
        Command(IDM_EXITKELVRA);
        if (WaitForSingleObject(process_.get(), 15000) != WAIT_OBJECT_0)
            TerminateProcess(process_.get(), 1);
    }

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    bool Running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

    // The main window, shown or hidden, once its creation has set the
    // caption; waits for it up to the time.
    HWND Window(unsigned long timeoutMs = 20000) const {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                for (HWND window : WindowsOf(id_, TKelvraMainForm::kClassName, false))
                    if (testing::WindowText(window) == L"Kelvra - v2.0") found = window;
                return found != nullptr;
            },
            timeoutMs);
        return found;
    }
    void Post(UINT message, WPARAM wParam, LPARAM lParam) const {
        PostMessageW(Window(), message, wParam, lParam);
    }
    void Command(UINT id) const { Post(WM_COMMAND, id, 0); }
    // What the tray sends when the user clicks the balloon (version 4 form).
    void ClickBalloon() const {
        Post(TKelvraMainForm::kTrayMessage, 0, MAKELPARAM(NIN_BALLOONUSERCLICK, IDC_TRAYICON));
    }

    std::wstring ImagePath() const {
        wchar_t path[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        QueryFullProcessImageNameW(process_.get(), 0, path, &size);
        return path;
    }
    // The exit code once the process has ended within the time; STILL_ACTIVE
    // when it has not.
    DWORD ExitCode(unsigned long timeoutMs) const {
        WaitForSingleObject(process_.get(), timeoutMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

  private:
    TrayProcess(HANDLE process, DWORD id) : process_(process), id_(id) {}
    UniqueHandle process_;
    DWORD id_;
};

// A window of the process showing the text as its caption (a dialog, a
// message box), or none.
HWND ShownWindowTitled(DWORD processId, const std::wstring& title) {
    for (HWND window : WindowsOf(processId))
        if (testing::WindowText(window) == title) return window;
    return nullptr;
}

class KelvraProgram : public ::testing::Test {
  protected:
    void StoreSettings(const std::string& content) {
        ASSERT_TRUE(ForceDirectories(state_.DataFolder()));
        WriteFileBytes(state_.DataFolder() + L"settings.ini", content);
    }

    SavedUserState state_;
};

TEST_F(KelvraProgram, RunsInTheTrayUploadsOnRunNowAndEndsOnExit) {
    testing::AccountService service({testing::kAccountServiceScript, {}});
    StoreSettings(
        "[Proxy]\r\nUse proxy=1\r\nServer=127.0.0.1\r\nPort=" + std::to_string(service.Port()) +
        "\r\n[Account]\r\nUsername=user1\r\nPassword=pw\r\nProfile=PC01\r\n");
    auto tray = TrayProcess::Start(KelvraExe());
    ASSERT_TRUE(tray.Started());
    HWND window = tray.Window();
    ASSERT_NE(window, nullptr);

    // The title window first, hidden at the first tick, with the greeting.
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return BalloonShows(kGreeting); }, 5000));
    EXPECT_EQ(SavedUserState::AutostartValue(), L"\"" + KelvraExe() + L"\"");

    // A second start of the same user ends at once; it writes the autostart
    // value as every start does, and the running one says it is there.
    testing::TempDir elsewhere;
    const std::wstring secondExe = elsewhere / L"kelvra second.exe";
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), secondExe.c_str(), FALSE));
    const auto second = testing::RunProgram(Quoted(secondExe), 20000);
    EXPECT_FALSE(second.timedOut);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(WindowsOf(0, TKelvraMainForm::kClassName, false).size(), 1u);
    EXPECT_EQ(SavedUserState::AutostartValue(), L"\"" + secondExe + L"\"");
    EXPECT_TRUE(WaitUntil([&] { return BalloonShows(kAlreadyRunning); }, 5000));

    tray.Command(IDM_RUNNOW);
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 1; }, 60000));
    const std::string request = service.Requests()[0];
    EXPECT_NE(request.find("/kv2/account_post.php HTTP/1.1\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("name=\"username\"\r\n\r\nuser1\r\n"), std::string::npos);
    EXPECT_NE(request.find("name=\"profile\"\r\n\r\nPC01\r\n"), std::string::npos);
    const std::wstring payload = state_.DataFolder() + L"dump_PC01_0.txt";
    EXPECT_NE(request.find("filename=\"" + WideToAnsi(payload) + "\""), std::string::npos);
    EXPECT_TRUE(WaitUntil([&] { return BalloonShows(kUpdated); }, 10000));
    for (const wchar_t* extension : {L".txt", L".xml", L".html"})
        EXPECT_TRUE(FileExists(state_.DataFolder() + L"dump_PC01_0" + extension)) << extension;

    // Any close request but Exit only hides the window.
    tray.Post(WM_CLOSE, 0, 0);
    tray.Post(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(tray.ExitCode(1000), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(IsWindow(window));

    tray.Command(IDM_EXITKELVRA);
    EXPECT_EQ(tray.ExitCode(15000), 0u);
    EXPECT_FALSE(IsWindow(window));
}

// A run over a program that crashes the system's version reader and an
// install folder on a network drive that does not answer: the crash ends
// only the helper process, the drive costs one bound, the tray answers its
// window messages all the while, uploads, and runs on.
TEST_F(KelvraProgram, RunNowOutlivesACrashingExecutableAndASilentDrive) {
    testing::TempDir programs;
    const std::wstring crashing = programs / L"crashing\\";
    ASSERT_TRUE(ForceDirectories(crashing));
    for (const auto& layout : version_blocks::MisleadingPeLayouts())
        if (layout.expect == version_blocks::PeLayout::Crashes && layout.tail.empty()) {
            WriteFileBytes(crashing + L"app.exe",
                           std::string_view(reinterpret_cast<const char*>(layout.bytes.data()),
                                            layout.bytes.size()));
            break;
        }
    const std::wstring backing = programs / L"share";
    ASSERT_TRUE(ForceDirectories(backing + L"\\Slow"));
    testing::SlowShare share(testing::kSlowShareScript, L'S', backing, 2.0, L"Slow");
    if (!share.available()) {
        if (share.needsRoot()) KELVRA_ALLOWED_SKIP() << "mounting a file system needs root";
        FAIL() << "no slow share: " << share.whyNot();
    }
    testing::UninstallKeys keys(KEY_WOW64_32KEY);
    for (const auto& [name, folder] : {std::pair{L"Crashing Tool", crashing},
                                       std::pair{L"Silent Tool", share.root() + L"Slow\\"}}) {
        const std::wstring key = testing::UninstallKeys::UniqueName(name);
        keys.Create(key);
        keys.SetText(key, L"DisplayName", name);
        keys.SetText(key, L"InstallLocation", folder);
    }
    testing::AccountService service({testing::kAccountServiceScript, {}});
    StoreSettings(
        "[Proxy]\r\nUse proxy=1\r\nServer=127.0.0.1\r\nPort=" + std::to_string(service.Port()) +
        "\r\n[Account]\r\nUsername=user1\r\nPassword=pw\r\nProfile=PC02\r\n");
    auto tray = TrayProcess::Start(KelvraExe());
    ASSERT_TRUE(tray.Started());
    HWND window = tray.Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return BalloonShows(kGreeting); }, 10000));

    tray.Command(IDM_RUNNOW);
    // Until the upload arrives, the window answers each message within a
    // second (the drive alone holds the run for 5 s).
    std::chrono::steady_clock::duration slowest{};
    while (service.Requests().empty()) {
        const auto asked = std::chrono::steady_clock::now();
        DWORD_PTR result = 0;
        ASSERT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result), 0);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - asked);
        ASSERT_TRUE(tray.Running());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_LT(slowest, std::chrono::seconds(1));
    EXPECT_TRUE(WaitUntil([&] { return BalloonShows(kUpdated); }, 10000));
    const std::string payload = ReadFileBytes(state_.DataFolder() + L"dump_PC02_0.txt");
    for (const char* line : {"Crashing Tool\t\r\n", "Silent Tool\t\r\n"})
        EXPECT_NE(payload.find(line), std::string::npos) << payload;

    tray.Command(IDM_EXITKELVRA);
    EXPECT_EQ(tray.ExitCode(15000), 0u);
}

// Waits for the first scheduled run, 100 seconds after the start.
TEST_F(KelvraProgram, ScheduledRunWithoutAccountWarnsAndItsBalloonOpensTheSettings) {
    auto tray = TrayProcess::Start(KelvraExe());
    ASSERT_TRUE(tray.Started());
    const auto started = std::chrono::steady_clock::now();
    HWND window = tray.Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 5000));

    // Before any notice the balloon click does nothing.
    tray.ClickBalloon();
    EXPECT_FALSE(
        WaitUntil([&] { return ShownWindowTitled(tray.Id(), L"Settings") != nullptr; }, 1500));

    tray.Command(IDM_VISITACCOUNTPAGE);
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = ShownWindowTitled(tray.Id(), L"Error")) != nullptr; },
                          10000));
    EXPECT_EQ(testing::MessageBoxText(box), L"No valid account found. Check your settings");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));

    ASSERT_TRUE(WaitUntil([&] { return BalloonShows(kNoAccount); }, 120000));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::seconds(100));

    tray.ClickBalloon();
    HWND settings = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] { return (settings = ShownWindowTitled(tray.Id(), L"Settings")) != nullptr; }, 10000));
    PostMessageW(settings, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 5000));

    tray.Command(IDM_EXITKELVRA);
    EXPECT_EQ(tray.ExitCode(15000), 0u);
}

TEST_F(KelvraProgram, InstallerNameCopiesItselfIntoTheDataFolderAndStartsTheCopy) {
    testing::TempDir downloads;
    const std::wstring installer = downloads / L"AKelvra.EXE";
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), installer.c_str(), FALSE));
    const std::wstring installed = state_.DataFolder() + kInstalledExeName;
    const std::string program = ReadFileBytes(KelvraExe());

    // First without a data folder, then over an older copy.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) WriteFileBytes(installed, "an older copy");
        const auto install = testing::RunProgram(Quoted(installer), 20000);
        EXPECT_FALSE(install.timedOut);
        EXPECT_EQ(install.exitCode, 0u);
        ASSERT_TRUE(FileExists(installed));
        EXPECT_TRUE(ReadFileBytes(installed) == program);

        auto tray = TrayProcess::Find(20000);
        ASSERT_TRUE(tray.Started()) << "the shell started the copy";
        EXPECT_TRUE(SamePath(tray.ImagePath(), installed)) << WideToAnsi(tray.ImagePath());
        ASSERT_NE(tray.Window(), nullptr);
        EXPECT_EQ(SavedUserState::AutostartValue(), L"\"" + installed + L"\"");
        tray.Command(IDM_EXITKELVRA);
        EXPECT_EQ(tray.ExitCode(15000), 0u);
    }
    EXPECT_FALSE(FileExists(downloads / kInstalledExeName));
}

// The file version of an executable, as major.minor.build.revision words
// packed into 64 bits; 0 when it has none.
unsigned long long FileVersionOf(const std::wstring& exe) {
    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeW(exe.c_str(), &ignored), '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (block.empty() ||
        !GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
        return 0;
    return (static_cast<unsigned long long>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD found, LONG_PTR out) {
    *reinterpret_cast<WORD*>(out) = found;
    return FALSE;
}

// Gives a copy of the program another file version: its version resource
// with the revision word of the fixed part set, written back in place.
bool SetRevision(const std::wstring& exe, WORD revision) {
    std::string data;
    WORD language = 0;
    {
        UniqueHModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (!module) return false;
        EnumResourceLanguagesW(module.get(), MAKEINTRESOURCEW(16),  // RT_VERSION
                               MAKEINTRESOURCEW(1), &FirstLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
        HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
        if (!found) return false;
        data.assign(static_cast<const char*>(LockResource(LoadResource(module.get(), found))),
                    SizeofResource(module.get(), found));
    }
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    const auto at = data.find(signature);
    if (at == std::string::npos || at + sizeof(VS_FIXEDFILEINFO) > data.size()) return false;
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data.data() + at, sizeof fixed);
    fixed.dwFileVersionLS = (fixed.dwFileVersionLS & 0xFFFF0000u) | revision;
    fixed.dwProductVersionLS = (fixed.dwProductVersionLS & 0xFFFF0000u) | revision;
    std::memcpy(data.data() + at, &fixed, sizeof fixed);
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update) return false;
    const bool ok = UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), language,
                                    data.data(), static_cast<DWORD>(data.size()));
    return EndUpdateResourceW(update, !ok) && ok;
}

// A new version over a running one: the installer asks the running tray to
// end, copies, and starts the new copy. Afterwards exactly one tray runs,
// from the new file, and the autostart value names it.
TEST_F(KelvraProgram, InstallerOverARunningTrayEndsItAndStartsTheNewVersion) {
    const std::wstring installed = state_.DataFolder() + kInstalledExeName;
    ASSERT_TRUE(ForceDirectories(state_.DataFolder()));
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), installed.c_str(), FALSE));
    auto old = TrayProcess::Start(installed);
    ASSERT_TRUE(old.Started());
    ASSERT_NE(old.Window(), nullptr);

    testing::TempDir downloads;
    const std::wstring installer = downloads / L"akelvra.exe";
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), installer.c_str(), FALSE));
    ASSERT_TRUE(SetRevision(installer, 7));
    const unsigned long long newVersion = FileVersionOf(installer);
    ASSERT_NE(newVersion, FileVersionOf(KelvraExe()));

    const auto install = testing::RunProgram(Quoted(installer), 60000);
    EXPECT_FALSE(install.timedOut) << "no error box keeps the installer open";
    EXPECT_EQ(install.exitCode, 0u);
    EXPECT_EQ(old.ExitCode(15000), 0u) << "the old tray ended as on Exit";
    EXPECT_EQ(FileVersionOf(installed), newVersion);
    EXPECT_TRUE(ReadFileBytes(installed) == ReadFileBytes(installer));

    auto tray = TrayProcess::Find(20000);
    ASSERT_TRUE(tray.Started()) << "the new copy runs";
    ASSERT_NE(tray.Window(), nullptr);
    EXPECT_NE(tray.Id(), old.Id());
    EXPECT_TRUE(SamePath(tray.ImagePath(), installed)) << WideToAnsi(tray.ImagePath());
    EXPECT_EQ(WindowsOf(0, TKelvraMainForm::kClassName, false).size(), 1u);
    EXPECT_EQ(SavedUserState::AutostartValue(), L"\"" + installed + L"\"");
}

// A copy that cannot be made is said, with the reason and the place.
TEST_F(KelvraProgram, InstallerThatCannotCopyShowsWhyAndWhere) {
    const std::wstring installed = state_.DataFolder() + kInstalledExeName;
    ASSERT_TRUE(ForceDirectories(installed + L"\\"));  // a folder in the file's place
    testing::TempDir downloads;
    const std::wstring installer = downloads / L"akelvra.exe";
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), installer.c_str(), FALSE));

    auto install = TrayProcess::Start(installer);
    ASSERT_TRUE(install.Started());
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] { return (box = ShownWindowTitled(install.Id(), L"Error")) != nullptr; }, 30000));
    const std::wstring text = testing::MessageBoxText(box);
    EXPECT_NE(text.find(L"could not be installed"), std::wstring::npos) << WideToAnsi(text);
    EXPECT_NE(text.find(installed), std::wstring::npos) << WideToAnsi(text);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(install.ExitCode(15000), 0u);
    EXPECT_TRUE(WindowsOf(0, TKelvraMainForm::kClassName, false).empty());
    RemoveDirectoryW(installed.c_str());
}

// A tray that does not end in time (its settings dialog is open): the
// installer starts nothing, says what to close, and the tray forgets the
// request, so that it does not end later when the dialog closes. The
// installer runs in this process with a short wait instead of two minutes.
TEST_F(KelvraProgram, InstallerThatWaitsInVainStartsNothingAndTheTrayGoesOn) {
    const std::wstring installed = state_.DataFolder() + kInstalledExeName;
    ASSERT_TRUE(ForceDirectories(state_.DataFolder()));
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), installed.c_str(), FALSE));
    const std::string before = ReadFileBytes(installed);
    auto tray = TrayProcess::Start(installed);
    ASSERT_TRUE(tray.Started());
    ASSERT_NE(tray.Window(), nullptr);
    tray.Command(IDM_SETTINGS);
    HWND settings = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] { return (settings = ShownWindowTitled(tray.Id(), L"Settings")) != nullptr; }, 10000));

    testing::TempDir downloads;
    const std::wstring installer = downloads / L"akelvra.exe";
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), installer.c_str(), FALSE));
    testing::MessageBoxRecorder boxes;
    InstallAndStartCopy(installer, 3000);
    ASSERT_EQ(boxes.size(), 1u);
    const std::wstring text = boxes[0].text;
    EXPECT_NE(text.find(L"did not end in time"), std::wstring::npos) << WideToAnsi(text);
    EXPECT_NE(text.find(L"Close its Settings window"), std::wstring::npos) << WideToAnsi(text);
    EXPECT_NE(text.find(L"start akelvra.exe again"), std::wstring::npos) << WideToAnsi(text);
    EXPECT_NE(text.find(L"The previous version stays installed."), std::wstring::npos);
    EXPECT_TRUE(ReadFileBytes(installed) == before);
    EXPECT_FALSE(FileExists(installed + L".tmp"));

    PostMessageW(settings, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(settings); }, 5000));
    EXPECT_EQ(tray.ExitCode(3000), static_cast<DWORD>(STILL_ACTIVE)) << "the tray goes on";
    EXPECT_EQ(WindowsOf(0, TKelvraMainForm::kClassName, false).size(), 1u) << "nothing started";
}

TEST_F(KelvraProgram, OtherNamesRunTheTrayProgramAndAutostartIsQuoted) {
    testing::TempDir downloads;
    ASSERT_TRUE(CreateDirectoryW((downloads / L"Ann Lee").c_str(), nullptr));
    const std::wstring copy = downloads / L"Ann Lee\\akelvra (1).exe";
    ASSERT_TRUE(CopyFileW(KelvraExe().c_str(), copy.c_str(), FALSE));

    auto tray = TrayProcess::Start(copy);
    ASSERT_TRUE(tray.Started());
    ASSERT_NE(tray.Window(), nullptr);
    EXPECT_EQ(SavedUserState::AutostartValue(), L"\"" + copy + L"\"");
    EXPECT_FALSE(FileExists(state_.DataFolder() + kInstalledExeName));
    tray.Command(IDM_EXITKELVRA);
    EXPECT_EQ(tray.ExitCode(15000), 0u);
}

// The executable carries its own version, manifest, icon and logo.
TEST(KelvraResources, VersionManifestIconAndLogo) {
    const std::wstring exe = KelvraExe();
    DWORD ignored = 0;
    std::string version(GetFileVersionInfoSizeW(exe.c_str(), &ignored), '\0');
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, L"2.0.0.0");

    UniqueHModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    HRSRC found =
        FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_TRUE(found);
    const std::string manifest(
        static_cast<const char*>(LockResource(LoadResource(module.get(), found))),
        SizeofResource(module.get(), found));
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);

    // The icon group lists its frames: 6 bytes of head, 14 per frame, whose
    // first byte is the width.
    found = FindResourceW(module.get(), MAKEINTRESOURCEW(IDI_KELVRA),
                          MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_TRUE(found);
    const auto* group =
        static_cast<const unsigned char*>(LockResource(LoadResource(module.get(), found)));
    ASSERT_EQ(group[4], 3);
    EXPECT_EQ(group[6], 16);
    EXPECT_EQ(group[6 + 14], 32);
    EXPECT_EQ(group[6 + 28], 48);

    HBITMAP logo = static_cast<HBITMAP>(
        LoadImageW(module.get(), MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_TRUE(logo);
    BITMAP size{};
    GetObjectW(logo, sizeof(size), &size);
    DeleteObject(logo);
    EXPECT_EQ(size.bmWidth, 89);
    EXPECT_EQ(size.bmHeight, 89);
}

// The DLLs that the loader resolves when the program starts: the names of
// the executable's import directory, read from the file.
std::vector<std::string> LoadTimeImports(const std::wstring& exe) {
    const std::string file = ReadFileBytes(exe);
    auto at = [&file](std::size_t offset, std::size_t size) {
        if (offset > file.size() || size > file.size() - offset)
            throw std::runtime_error("import table out of the file");
        return file.data() + offset;
    };
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, at(0, sizeof dos), sizeof dos);
    IMAGE_NT_HEADERS32 nt;
    std::memcpy(&nt, at(dos.e_lfanew, sizeof nt), sizeof nt);
    const std::size_t sections = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                 nt.FileHeader.SizeOfOptionalHeader;
    auto fileOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            std::memcpy(&section, at(sections + i * sizeof section, sizeof section),
                        sizeof section);
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        throw std::runtime_error("address outside every section");
    };
    std::vector<std::string> names;
    const DWORD table =
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (std::size_t entry = fileOffset(table);; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, at(entry, sizeof descriptor), sizeof descriptor);
        if (descriptor.Name == 0) break;
        std::string name(at(fileOffset(descriptor.Name), 1));
        for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        names.push_back(name);
    }
    return names;
}

// A program started from a download folder must not load a DLL lying beside
// it. Windows takes the KnownDLLs from System32 whatever the folder holds;
// every other DLL is delay-loaded, after the program has restricted the
// search to System32. The list is what Windows 7 and Windows 10 both count
// as KnownDLLs, of the ones a program like this may import, and COMCTL32,
// which the manifest's dependency on the common controls 6 takes from the
// system's side-by-side store before any folder.
TEST(KelvraResources, ProgramsLoadOnlyKnownDllsAtStart) {
    const std::set<std::string> known = {
        "advapi32.dll", "comdlg32.dll", "gdi32.dll",  "imm32.dll",  "kernel32.dll", "msvcrt.dll",
        "ole32.dll",    "oleaut32.dll", "psapi.dll",  "rpcrt4.dll", "sechost.dll",  "setupapi.dll",
        "shell32.dll",  "shlwapi.dll",  "user32.dll", "ws2_32.dll", "comctl32.dll"};
    for (const std::wstring& exe : {KelvraExe(), testing::HostPathToWindows(KELVRA_KVSCAN_EXE)}) {
        const std::vector<std::string> imports = LoadTimeImports(exe);
        EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end());
        for (const std::string& dll : imports)
            EXPECT_TRUE(known.contains(dll)) << WideToAnsi(exe) << " loads " << dll << " at start";
    }
}

}  // namespace
}  // namespace kelvra

#endif  // KELVRA_KELVRA_EXE
