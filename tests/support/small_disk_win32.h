#pragma once
// A folder on a small file system of its own, for the tests of a data folder
// that is full or read-only for real: tests/service/small_disk.py mounts a
// tmpfs of the given size on it. Mounting needs root, as CI runs; elsewhere
// the disk is not available and says why (needsRoot tells that case from a
// root who cannot mount).

#include <memory>
#include <string>

#include "support/loopback_win32.h"

namespace kelvra::testing {

#ifdef KELVRA_SOURCE_DIR
inline const std::string kSmallDiskScript = KELVRA_SOURCE_DIR "/tests/service/small_disk.py";
#endif

class SmallDisk {
  public:
    // folder: an existing, empty Windows folder without a trailing backslash.
    SmallDisk(const std::string& script, std::wstring folder, unsigned kib);
    ~SmallDisk();  // unmounts
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool available() const { return available_; }
    const std::string& whyNot() const { return whyNot_; }
    bool needsRoot() const { return whyNot_ == "not root"; }

    // Fills the disk with a file of its own until at most `leave` bytes are
    // free (whole pages of the file system).
    void Fill(unsigned long long leave = 0);
    // Read-only from now on, with what it holds.
    void Seal();
    // Unmounts: the folder is the empty folder below again.
    void Release();

  private:
    std::wstring folder_;
    bool available_ = false;
    std::string whyNot_;
    std::unique_ptr<Lifeline> lifeline_;  // the file system stays while this is open
};

}  // namespace kelvra::testing
