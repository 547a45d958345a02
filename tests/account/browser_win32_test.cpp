// The browser launch through the real shell and registry of the test prefix.
// The "browsers" are copies of this test program: started with the
// environment variable KELVRA_LAUNCH_RECORD set, it writes down its own path
// and command line and ends before any test runs.

#include "common/win32.h"

#include "account/browser.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/sysfacts.h"
#include "common/textconv.h"
#include "common/tools.h"
#include "support/message_boxes.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

constexpr wchar_t kRecordVariable[] = L"KELVRA_LAUNCH_RECORD";

[[maybe_unused]] const bool kLaunchRecorder = [] {
    wchar_t record[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(kRecordVariable, record, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    AppendFileBytes(record, WideToAnsi(std::wstring(self) + L"\t" + GetCommandLineW() + L"\n"));
    ExitProcess(0);
}();

// Sets the default value of a key under HKEY_CLASSES_ROOT and puts back what
// was there: the old value, or no key at all.
class ClassesRootDefault {
  public:
    ClassesRootDefault(std::wstring path, const std::wstring& value) : path_(std::move(path)) {
        // The outermost part of the path that does not exist yet goes again.
        for (std::size_t cut = 0; cut != std::wstring::npos;) {
            cut = path_.find(L'\\', cut + 1);
            const std::wstring prefix = path_.substr(0, cut);
            HKEY probe = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, prefix.c_str(), 0, KEY_READ, &probe) !=
                ERROR_SUCCESS) {
                createdRoot_ = prefix;
                break;
            }
            RegCloseKey(probe);
        }
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        DWORD size = 0;
        if (createdRoot_.empty() &&
            RegQueryValueExW(key, nullptr, nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS) {
            hadValue_ = true;
            oldValue_.resize(size);
            RegQueryValueExW(key, nullptr, nullptr, &oldType_, oldValue_.data(), &size);
        }
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ~ClassesRootDefault() {
        if (!createdRoot_.empty()) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, createdRoot_.c_str());
            return;
        }
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path_.c_str(), 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        if (hadValue_)
            RegSetValueExW(key, nullptr, 0, oldType_, oldValue_.data(),
                           static_cast<DWORD>(oldValue_.size()));
        else
            RegDeleteValueW(key, nullptr);
        RegCloseKey(key);
    }
    ClassesRootDefault(const ClassesRootDefault&) = delete;
    ClassesRootDefault& operator=(const ClassesRootDefault&) = delete;

  private:
    std::wstring path_;
    std::wstring createdRoot_;
    bool hadValue_ = false;
    DWORD oldType_ = REG_SZ;
    std::vector<BYTE> oldValue_;
};

struct Launch {
    std::wstring program;
    std::wstring commandLine;
};

class BrowserLaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t self[MAX_PATH] = {};
        ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
        // A folder with a blank, like the programs folder.
        ASSERT_TRUE(ForceDirectories(dir_ / L"My Browsers"));
        ASSERT_TRUE(CopyFileW(self, htmBrowser_.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(self, httpBrowser_.c_str(), FALSE));
        SetEnvironmentVariableW(kRecordVariable, record_.c_str());
        notices_.onBox = [this](const MessageBoxRequest&) {
            launchesAtNotice_ += static_cast<int>(Launches().size());
            return 1;
        };
        DeleteFileAt(ProbePath());
    }
    void TearDown() override {
        SetEnvironmentVariableW(kRecordVariable, nullptr);
        EXPECT_FALSE(FileExists(ProbePath())) << "the probe file was left behind";
    }

    static std::wstring ProbePath() { return GetTempDir() + kProbeFileName; }

    std::vector<Launch> Launches() const {
        std::vector<Launch> launches;
        if (!FileExists(record_)) return launches;
        std::wstring text = AnsiToWide(ReadFileBytes(record_));
        for (std::size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
             start = end + 1) {
            const std::wstring line = text.substr(start, end - start);
            const auto tab = line.find(L'\t');
            launches.push_back({line.substr(0, tab), line.substr(tab + 1)});
        }
        return launches;
    }

    // The launches once one has come in, or after the time when none does.
    std::vector<Launch> WaitForLaunches(DWORD milliseconds) const {
        for (DWORD waited = 0; waited < milliseconds; waited += 50) {
            if (!Launches().empty()) break;
            Sleep(50);
        }
        Sleep(200);  // a second launch would be as quick
        return Launches();
    }

    void RegisterHtmAssociation() {
        registrations_.emplace_back(L".htm", L"KelvraTest.htmlfile");
        registrations_.emplace_back(L"KelvraTest.htmlfile\\shell\\open\\command",
                                    L"\"" + htmBrowser_ + L"\" \"%1\"");
    }
    void RegisterNoHtmAssociation() {
        registrations_.emplace_back(L".htm", L"KelvraTest.nothing");
        registrations_.emplace_back(L"KelvraTest.nothing", L"a class without commands");
    }
    void RegisterHttpCommand(const std::wstring& command) {
        registrations_.emplace_back(kHttpOpenCommandKey, command);
    }

    static constexpr wchar_t kAddress[] = L"http://service.example/account/user1/";
    testing::TempDir dir_;
    const std::wstring htmBrowser_ = dir_ / L"My Browsers\\htmbrowser.exe";
    const std::wstring httpBrowser_ = dir_ / L"My Browsers\\httpbrowser.exe";
    const std::wstring record_ = dir_ / L"launches.txt";
    testing::MessageBoxRecorder notices_;
    int launchesAtNotice_ = 0;
    std::list<ClassesRootDefault> registrations_;
};

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST_F(BrowserLaunchTest, AssociatedProgramStartsWithTheAddressAndNothingIsShown) {
    RegisterHtmAssociation();
    RegisterHttpCommand(L"\"" + httpBrowser_ + L"\" \"%1\"");

    const HtmlHandler handler = FindHtmlHandler();
    EXPECT_TRUE(SamePath(handler.fileName, L"htmbrowser.exe"))
        << ::testing::PrintToString(handler.fileName);
    EXPECT_TRUE(SamePath(handler.folder, dir_ / L"My Browsers\\"))
        << ::testing::PrintToString(handler.folder);
    EXPECT_FALSE(FileExists(ProbePath()));

    OpenUrlInBrowser(kAddress);
    const auto launches = WaitForLaunches(20000);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_TRUE(SamePath(launches[0].program, htmBrowser_))
        << ::testing::PrintToString(launches[0].program);
    EXPECT_TRUE(launches[0].commandLine.ends_with(L" " + std::wstring(kAddress)))
        << ::testing::PrintToString(launches[0].commandLine);
    EXPECT_TRUE(notices_.empty());
}

TEST_F(BrowserLaunchTest, WithoutAssociationTheHttpProgramStartsOnceItsNoticeIsClosed) {
    RegisterNoHtmAssociation();
    RegisterHttpCommand(L"\"" + httpBrowser_ + L"\" -osint -url \"%1\"");

    EXPECT_EQ(FindHtmlHandler().fileName, L"");
    OpenUrlInBrowser(kAddress);
    const auto launches = WaitForLaunches(20000);
    EXPECT_EQ(notices_.Texts(), std::vector<std::wstring>{httpBrowser_});
    EXPECT_EQ(launchesAtNotice_, 0) << "started before the notice was closed";
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_TRUE(SamePath(launches[0].program, httpBrowser_));
    // The address is the whole parameter text; the command's own arguments
    // are not used.
    EXPECT_TRUE(launches[0].commandLine.ends_with(L"exe\" " + std::wstring(kAddress)) ||
                launches[0].commandLine.ends_with(L"exe " + std::wstring(kAddress)))
        << ::testing::PrintToString(launches[0].commandLine);
}

TEST_F(BrowserLaunchTest, WithoutAnyBrowserOnlyUrlWayIsShown) {
    RegisterNoHtmAssociation();
    RegisterHttpCommand(L"");
    OpenUrlInBrowser(kAddress);
    EXPECT_EQ(notices_.Texts(), std::vector<std::wstring>{L"url way"});
    EXPECT_TRUE(WaitForLaunches(1500).empty());

    // A command stored as something other than text counts as none, even
    // when its bytes would read as a good command.
    const std::wstring command = L"\"" + httpBrowser_ + L"\" \"%1\"";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, kHttpOpenCommandKey, 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_BINARY, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    OpenUrlInBrowser(kAddress);
    EXPECT_EQ(notices_.Texts(), (std::vector<std::wstring>{L"url way", L"url way"}));
    EXPECT_TRUE(WaitForLaunches(1500).empty());
}

TEST_F(BrowserLaunchTest, UnquotedHttpProgramGivesAnEmptyNoticeAndStartsNothing) {
    RegisterNoHtmAssociation();
    RegisterHttpCommand(httpBrowser_ + L" %1");
    OpenUrlInBrowser(kAddress);
    EXPECT_EQ(notices_.Texts(), std::vector<std::wstring>{L""});
    EXPECT_TRUE(WaitForLaunches(1500).empty());
}

}  // namespace
}  // namespace kelvra
