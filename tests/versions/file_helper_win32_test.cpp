// The helper process seen from a run: one that cannot be started leaves the
// file without a version and says why; nothing else of the read changes.

#include "versions/file_helper.h"

#include <gtest/gtest.h>

#include "common/scope.h"
#include "fixtures/fixture_files_win32.h"
#include "versions/directversion.h"
#include "versions/fileversion.h"

namespace kelvra {
namespace {

TEST(FileHelperWin32, AHelperThatCannotStartLeavesTheFileWithoutAVersion) {
    // Every file the system's, through the helper.
    const ScopedHook<&SetDirectVersionReads> systemReads(false);
    const ScopedHook<&SetHelperProgram> helper(L"C:\\no such folder\\helper.exe");
    const FileVersionResult read = ReadFileVersions(fixtures::FixturePath(L"fv_1234"));
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.fixedVersion, L"");
    EXPECT_EQ(read.failure, VersionReadFailure::NoHelper);
    EXPECT_FALSE(read.settled) << "a failure of the moment is never remembered";
}

}  // namespace
}  // namespace kelvra
