// The installer's copy into the data folder: the new executable takes the
// installed copy's place in one step, or not at all.

#include "common/win32.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "common/files.h"
#include "common/handles_win32.h"
#include "shell/startup_win32.h"
#include "support/allowed_skip.h"
#include "support/small_disk_win32.h"
#include "support/temp_dir.h"

namespace kelvra {
namespace {

// What stands in the copy's way, for as long as the object lives.
using Obstacle = std::shared_ptr<void>;

// Public: the cases' obstacles work on the fixture they are given.
class InstallCopy : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_TRUE(ForceDirectories(folder_));
        // Larger than the small disk, so that a full disk cuts it short.
        WriteFileBytes(source_, std::string(600 * 1024, 'N'));
    }

    testing::TempDir dir_;
    const std::wstring source_ = dir_ / L"akelvra.exe";
    const std::wstring folder_ = dir_ / L"Kelvra";
    const std::wstring target_ = folder_ + L"\\kelvra_run.exe";
    const std::string old_ = "the installed copy";
    std::shared_ptr<testing::SmallDisk> noDisk_;  // the small disk that could not be made
};

TEST_F(InstallCopy, FailureLeavesTheInstalledCopyWholeAndNoTemporary) {
    const struct {
        const char* what;
        std::function<Obstacle(InstallCopy&)> obstacle;  // none: nothing in the way
    } cases[] = {
        {"nothing in the way", nullptr},
        {"a read-only copy",
         [](InstallCopy& t) {
             SetFileAttributesW(t.target_.c_str(), FILE_ATTRIBUTE_READONLY);
             return Obstacle(nullptr, [&t](void*) {
                 SetFileAttributesW(t.target_.c_str(), FILE_ATTRIBUTE_NORMAL);
             });
         }},
        {"a copy held open",
         [](InstallCopy& t) {
             auto held = std::make_shared<UniqueHandle>(
                 MakeUniqueFileHandle(CreateFileW(t.target_.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)));
             EXPECT_TRUE(*held);
             return Obstacle(held);
         }},
        {"a full disk",
         [](InstallCopy& t) -> Obstacle {
             DeleteFileW(t.target_.c_str());  // the disk goes on an empty folder
             auto disk =
                 std::make_shared<testing::SmallDisk>(testing::kSmallDiskScript, t.folder_, 256);
             if (!disk->available()) {
                 t.noDisk_ = disk;
                 return nullptr;
             }
             WriteFileBytes(t.target_, t.old_);
             disk->Fill(4096);
             return disk;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(target_, old_);
        Obstacle obstacle;
        if (c.obstacle) obstacle = c.obstacle(*this);
        if (noDisk_) {
            if (noDisk_->needsRoot()) KELVRA_ALLOWED_SKIP() << "mounting a file system needs root";
            FAIL() << "no file system of its own: " << noDisk_->whyNot();
        }
        const unsigned long error = ReplaceWithCopy(source_, target_);
        EXPECT_FALSE(FileExists(target_ + L".tmp")) << "no head of the new copy is left";
        if (!c.obstacle) {
            EXPECT_EQ(error, 0u);
            EXPECT_TRUE(ReadFileBytes(target_) == ReadFileBytes(source_));
        } else {
            EXPECT_NE(error, 0u);
            EXPECT_EQ(ReadFileBytes(target_), old_) << "the installed copy is whole";
        }
        obstacle.reset();
        DeleteFileW(target_.c_str());
    }
}

}  // namespace
}  // namespace kelvra
