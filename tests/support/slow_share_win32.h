#pragma once
// A slow network share for real, as a drive letter of the running prefix:
// tests/service/slow_share.py mounts a FUSE file system that passes through to
// a folder of the test and sleeps before every operation (or only before
// those on one folder of it, so that one install folder is slow and another
// on the same drive answers at once). The drive is defined through Wine's
// mount manager as a network drive, so GetDriveTypeW says DRIVE_REMOTE at
// once, without a server restart. Mounting needs root and /dev/fuse, as CI
// has; elsewhere the share is not available and says why.
//
// Under Wine every Windows call costs several operations of the share (a
// lookup for each part of the path, an open, a read of the attributes...):
// with a delay of 2 s GetFileAttributesExW of a folder took 14 s and
// FindFirstFileW of "*.exe" in a folder of three files 52 s.

#include <memory>
#include <optional>
#include <string>

#include "support/loopback_win32.h"

namespace kelvra::testing {

#ifdef KELVRA_SOURCE_DIR
inline const std::string kSlowShareScript = KELVRA_SOURCE_DIR "/tests/service/slow_share.py";
#endif

class SlowShare {
  public:
    // letter: a free drive letter ('X'); backing: an existing Windows folder
    // without a trailing backslash, whose files the share shows (the mount
    // point is made beside it); delay in seconds; slowFolder: a folder
    // relative to the share's root whose operations alone sleep, or empty
    // for every operation.
    SlowShare(const std::string& script, wchar_t letter, std::wstring backing, double delaySeconds,
              std::wstring slowFolder = L"");
    ~SlowShare();  // removes the drive and unmounts
    SlowShare(const SlowShare&) = delete;
    SlowShare& operator=(const SlowShare&) = delete;

    bool available() const { return available_; }
    const std::string& whyNot() const { return whyNot_; }
    bool needsRoot() const { return whyNot_ == "not root"; }

    // "X:\"
    std::wstring root() const { return std::wstring(1, letter_) + L":\\"; }
    // Whether the mount manager took the drive as a network drive (when it
    // did not, the drive is there but says DRIVE_FIXED; whyNotRemote says why).
    bool remote() const { return remote_; }
    const std::string& whyNotRemote() const { return whyNotRemote_; }

    // From now on operations sleep this long (on slowFolder, when given:
    // empty for every operation). Returns once the share says so.
    void SetDelay(double seconds, std::optional<std::wstring> slowFolder = std::nullopt);
    // Removes the drive and unmounts; operations sleeping in it fail at once.
    void Release();

  private:
    wchar_t letter_;
    std::wstring mount_;  // the Windows path of the mount point
    bool available_ = false, remote_ = false, defined_ = false;
    std::string whyNot_, whyNotRemote_;
    std::unique_ptr<Lifeline> lifeline_;  // the share stays while this is open
};

}  // namespace kelvra::testing
