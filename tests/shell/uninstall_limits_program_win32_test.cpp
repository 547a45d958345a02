// kvscan.exe against uninstall keys at their limits, in the test prefix's
// real registry: 5,000 entries, key names of the longest length the registry
// allows, and an uninstall key that is missing in one registry view.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/textconv.h"
#include "shell/kvscan_machine_win32.h"

namespace kelvra {
namespace {

using testing::Quoted;
using testing::UninstallKeys;

constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::size_t kMaxKeyNameChars = 255;

struct Scan {
    testing::ProgramResult result;
    std::string payload, xml, timings;
    double seconds = 0;
};

class UninstallLimits : public testing::KvscanMachine {
  protected:
    // The run's files of the given set and its timings.
    Scan RunKvscan(int set = 0) {
        const auto start = std::chrono::steady_clock::now();
        Scan scan;
        scan.result = Kvscan(L"--profile P --timings " + Quoted(data_ / L"timings.txt"));
        scan.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (scan.result.exitCode == 0) {
            scan.payload = FileOf(L"P", L".txt", set);
            scan.xml = FileOf(L"P", L".xml", set);
            scan.timings = ReadFileBytes(data_ / L"timings.txt");
        }
        return scan;
    }
};

// The number after "name " in the timings file; 0 when it is not there.
unsigned long long Figure(const std::string& timings, const std::string& name) {
    const auto at = timings.find(name + " ");
    return at == std::string::npos ? 0 : std::stoull(timings.substr(at + name.size() + 1));
}

TEST_F(UninstallLimits, FiveThousandEntriesAreAllListedInOrderWithBoundedMemory) {
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        wchar_t number[8];
        swprintf(number, 8, L"%04d", i);
        const std::wstring key = UninstallKeys::UniqueName(std::wstring(L"scale-") + number);
        keys32_.SetText(key, L"DisplayName", std::wstring(L"Scale-") + number);
        keys32_.SetText(key, L"DisplayVersion", std::wstring(L"1.") + number);
        expected += "Scale-" + WideToAnsi(number) + "\t1." + WideToAnsi(number) + "\r\n";
    }
    const Scan scan = RunKvscan();
    ASSERT_EQ(scan.result.exitCode, 0u) << scan.result.output;
    EXPECT_NE(scan.payload.find(expected), std::string::npos) << "all 5,000, one after another";
    EXPECT_LT(scan.seconds, 120.0);
    EXPECT_GE(Figure(scan.timings, "count.records"), 5000u);
    EXPECT_LT(Figure(scan.timings, "peak_working_set_bytes"), 256ull << 20) << scan.timings;
    RecordProperty("seconds", std::to_string(scan.seconds));
    RecordProperty("peak_working_set_bytes",
                   std::to_string(Figure(scan.timings, "peak_working_set_bytes")));
}

TEST_F(UninstallLimits, KeyNamesOfTheLongestLengthAreReadUnderTheirOwnName) {
    // The uninstall key's path and a name of 255 characters make a path
    // longer than the 255 bytes of RegistryPath: the entry must be opened
    // by its own name, not by the shortened path. One name holds a
    // character outside the code page, which the shortened path would not.
    const std::wstring prefix = UninstallKeys::UniqueName(L"");
    const std::wstring named = prefix + std::wstring(kMaxKeyNameChars - prefix.size(), L'N');
    std::wstring foreign = prefix + std::wstring(kMaxKeyNameChars - prefix.size(), L'F');
    foreign[prefix.size()] = L'\u4e2d';
    const std::wstring unnamed = prefix + std::wstring(kMaxKeyNameChars - prefix.size(), L'U');
    keys32_.SetText(named, L"DisplayName", L"Long Key App 3.0");
    keys32_.SetText(foreign, L"DisplayName", L"Foreign Key App 4.0");
    keys32_.SetText(unnamed, L"DisplayVersion", L"5.0");
    ASSERT_EQ(named.size(), kMaxKeyNameChars);

    const Scan scan = RunKvscan();
    ASSERT_EQ(scan.result.exitCode, 0u) << scan.result.output;
    EXPECT_NE(scan.payload.find("Long Key App\t3.0\r\n"), std::string::npos) << scan.payload;
    EXPECT_NE(scan.payload.find("Foreign Key App\t4.0\r\n"), std::string::npos) << scan.payload;
    // Without a display name the record is named after its key, cut to 255 bytes.
    const std::string fallback = std::string(1, '(') + WideToAnsi(unnamed).substr(0, 254);
    EXPECT_NE(scan.payload.find(fallback + "\t5.0\r\n"), std::string::npos) << scan.payload;
    const std::string path = WideToAnsi(std::wstring(kUninstall) + L"\\" + named).substr(0, 255);
    EXPECT_NE(scan.xml.find("<RegistryPath>" + path + "</RegistryPath>"), std::string::npos);
}

// Deletes the uninstall key of one view, which must have no entries, and
// puts it back afterwards.
class MissingUninstallKey {
  public:
    explicit MissingUninstallKey(REGSAM view) : view_(view) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | view_, &key) ==
            ERROR_SUCCESS) {
            DWORD subkeys = 0;
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(key);
            EXPECT_EQ(subkeys, 0u) << "the test prefix's uninstall key holds entries";
            if (subkeys != 0) return;
            deleted_ = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstall, view_, 0) == ERROR_SUCCESS;
            EXPECT_TRUE(deleted_);
        }
    }
    ~MissingUninstallKey() {
        if (!deleted_) return;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, nullptr, 0, KEY_WRITE | view_,
                            nullptr, &key, nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    MissingUninstallKey(const MissingUninstallKey&) = delete;
    MissingUninstallKey& operator=(const MissingUninstallKey&) = delete;

    bool deleted() const { return deleted_; }

  private:
    REGSAM view_;
    bool deleted_ = false;
};

TEST_F(UninstallLimits, UninstallKeyMissingInOneViewLeavesTheOtherViewsEntries) {
    const struct {
        REGSAM missing, present;
        const char* name;
    } cases[] = {
        {KEY_WOW64_64KEY, KEY_WOW64_32KEY, "64-bit view missing"},
        {KEY_WOW64_32KEY, KEY_WOW64_64KEY, "32-bit view missing"},
    };
    for (int set = 0; set < 2; ++set) {
        const auto& c = cases[set];
        SCOPED_TRACE(c.name);
        MissingUninstallKey missing(c.missing);
        ASSERT_TRUE(missing.deleted());
        UninstallKeys keys(c.present);
        keys.SetText(UninstallKeys::UniqueName(L"present"), L"DisplayName", L"Present App 2.0");

        const Scan scan = RunKvscan(set);
        ASSERT_EQ(scan.result.exitCode, 0u) << scan.result.output;
        EXPECT_NE(scan.payload.find("Present App\t2.0\r\n"), std::string::npos) << scan.payload;
        EXPECT_TRUE(scan.xml.ends_with("</app>\r\n\r\n</apps>\r\n"));
    }
}

}  // namespace
}  // namespace kelvra
