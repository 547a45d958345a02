#include "common/win32.h"

#include "support/slow_share_win32.h"

#include <winioctl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/textconv.h"

namespace kelvra::testing {
namespace {

// Wine's own request to its mount manager that winecfg makes: define a drive
// letter as a Unix folder of a given type (it writes the type to
// HKLM\Software\Wine\Drives, where a server restart would read it), or,
// without a folder, remove the letter.
struct UnixDriveRequest {
    ULONG size;
    ULONG type;  // DRIVE_REMOTE, ...
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;  // a NUL-terminated Unix path after the request
    USHORT deviceOffset;
    USHORT labelOffset;
};
static_assert(sizeof(UnixDriveRequest) == 32);
constexpr DWORD kDefineUnixDrive =
    CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

// Returns an empty text when the mount manager took the request, else why not.
std::string DefineUnixDrive(wchar_t letter, const std::string& unixFolder, ULONG type) {
    HANDLE manager =
        CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE)
        return "no mount manager (error " + std::to_string(GetLastError()) + ")";
    std::vector<char> request(sizeof(UnixDriveRequest) +
                              (unixFolder.empty() ? 0 : unixFolder.size() + 1));
    UnixDriveRequest header{};
    header.size = static_cast<ULONG>(request.size());
    header.type = type;
    header.letter = static_cast<WCHAR>(towlower(letter));
    if (!unixFolder.empty()) {
        header.mountPointOffset = sizeof header;
        std::memcpy(request.data() + sizeof header, unixFolder.c_str(), unixFolder.size() + 1);
    }
    std::memcpy(request.data(), &header, sizeof header);
    DWORD returned = 0;
    const BOOL done =
        DeviceIoControl(manager, kDefineUnixDrive, request.data(),
                        static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(manager);
    return done ? std::string() : "the mount manager refused (error " + std::to_string(error) + ")";
}

// The prefix's dosdevices folder, as a Unix path.
std::string DosDevicesFolder() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
        return std::string(prefix) + "/dosdevices";
    const std::string drive = UnixPath(L"C:\\");
    const std::size_t at = drive.rfind("/dosdevices/");
    if (at == std::string::npos) throw std::runtime_error("no dosdevices folder above " + drive);
    return drive.substr(0, at + 11);
}

void ReplaceFile(const std::wstring& path, const std::string& bytes) {
    WriteFileBytes(path + L".part", bytes);
    if (!MoveFileExW((path + L".part").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw std::runtime_error("cannot write " + WideToAnsi(path));
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

}  // namespace

SlowShare::SlowShare(const std::string& script, wchar_t letter, std::wstring backing,
                     double delaySeconds, std::wstring slowFolder)
    : letter_(static_cast<wchar_t>(towupper(letter))), mount_(backing + L".mnt") {
    if (GetDriveTypeW(root().c_str()) != DRIVE_NO_ROOT_DIR) {
        whyNot_ = "drive " + WideToAnsi(root()) + " is in use";
        return;
    }
    if (!CreateDirectoryW(mount_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        whyNot_ = "cannot make the mount point";
        return;
    }
    const std::wstring state = mount_ + L".state";
    std::string link;
    try {
        link = DosDevicesFolder() + "/" + static_cast<char>(towlower(letter_)) + ":";
    } catch (const std::exception& error) {
        whyNot_ = error.what();
        return;
    }
    std::wstring arguments = L"--backing \"" + AnsiToWide(UnixPath(backing)) + L"\" --mount \"" +
                             AnsiToWide(UnixPath(mount_)) + L"\" --delay " +
                             AnsiToWide(Seconds(delaySeconds)) + L" --link \"" + AnsiToWide(link) +
                             L"\"";
    if (!slowFolder.empty()) arguments += L" --slow \"" + slowFolder + L"\"";
    lifeline_ = StartMountScript(script, arguments, state, std::chrono::seconds(30), whyNot_);
    if (!lifeline_) return;
    available_ = true;
    // The script made the drive a plain link; the mount manager makes it the
    // same folder again, as a network drive.
    whyNotRemote_ = DefineUnixDrive(letter_, UnixPath(mount_), DRIVE_REMOTE);
    defined_ = whyNotRemote_.empty();
    remote_ = defined_ && GetDriveTypeW(root().c_str()) == DRIVE_REMOTE;
    if (defined_ && !remote_) whyNotRemote_ = "the mount manager took the drive, but not as remote";
}

SlowShare::~SlowShare() { Release(); }

void SlowShare::SetDelay(double seconds, std::optional<std::wstring> slowFolder) {
    if (!lifeline_) throw std::runtime_error("the slow share is not mounted");
    std::string control = "delay " + Seconds(seconds) + "\n";
    if (slowFolder) control += "slow " + WideToAnsi(*slowFolder) + "\n";
    const std::wstring path = mount_ + L".control";
    ReplaceFile(path, control);
    if (!WaitFor([&] { return !FileExists(path); }, std::chrono::seconds(20)))
        throw std::runtime_error("the slow share did not take the new delay");
}

void SlowShare::Release() {
    if (defined_) DefineUnixDrive(letter_, "", DRIVE_NO_ROOT_DIR);
    defined_ = false;
    if (lifeline_) {
        lifeline_.reset();
        WaitFor([&] { return !FileExists(mount_ + L".state"); }, std::chrono::seconds(20));
    }
    RemoveDirectoryW(mount_.c_str());
}

}  // namespace kelvra::testing
