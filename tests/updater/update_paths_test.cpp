// Path building of Swapwell: separators, the three names, and refusal of anything that
// would not fit the 256-byte buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "update_paths.h"

namespace {

struct Built {
    UpdatePathsResult result;
    std::string source, target, backup;
};

// Runs the building with the lengths a successful Win32 query would report, inside a
// buffer fenced by guard bytes so that any write past the record shows.
Built Build(const std::string& windowsDirectory, const std::string& currentDirectory) {
    struct Fenced {
        unsigned char before[64];
        UpdatePaths paths;
        unsigned char after[64];
    } fenced;
    std::memset(&fenced, 0xA5, sizeof fenced);
    const UpdatePathsResult result =
        BuildUpdatePaths(windowsDirectory.c_str(), windowsDirectory.size(),
                         currentDirectory.c_str(), currentDirectory.size(), &fenced.paths);
    for (unsigned char guard : fenced.before) {
        EXPECT_EQ(guard, 0xA5);
    }
    for (unsigned char guard : fenced.after) {
        EXPECT_EQ(guard, 0xA5);
    }
    for (const char* path : {fenced.paths.source, fenced.paths.target, fenced.paths.backup}) {
        EXPECT_NE(std::memchr(path, '\0', UPDATE_PATH_SIZE), nullptr);
    }
    return {result, fenced.paths.source, fenced.paths.target, fenced.paths.backup};
}

TEST(UpdatePaths, BuildsSourceTargetAndBackup) {
    const Built built = Build("C:\\WINDOWS", "C:\\Drivers\\Prnlink");
    EXPECT_EQ(built.result, UpdatePathsResult::PATHS_OK);
    EXPECT_EQ(built.source, "C:\\Drivers\\Prnlink\\PRNLINK.DLL");
    EXPECT_EQ(built.target, "C:\\WINDOWS\\System32\\PRNLINK.DLL");
    EXPECT_EQ(built.backup, "C:\\WINDOWS\\System32\\PRNLINKOLD.DDL");
}

TEST(UpdatePaths, AddsNoSecondBackslashAfterADriveRootOrATrailingOne) {
    EXPECT_EQ(Build("C:\\WINDOWS", "C:\\").source, "C:\\PRNLINK.DLL");
    EXPECT_EQ(Build("C:\\WINDOWS", "S:\\").source, "S:\\PRNLINK.DLL");
    EXPECT_EQ(Build("C:\\WINDOWS", "\\\\server\\share\\").source, "\\\\server\\share\\PRNLINK.DLL");
    EXPECT_EQ(Build("C:\\WINDOWS", "C:").source, "C:\\PRNLINK.DLL");
    EXPECT_EQ(Build("C:\\WINDOWS", "C:\\a").source, "C:\\a\\PRNLINK.DLL");
}

TEST(UpdatePaths, SourceUsesEveryByteOfTheBufferAndNoMore) {
    // 243 + "\" + "PRNLINK.DLL" = 255 characters, the most a 256-byte buffer holds.
    const std::string fits = "C:\\" + std::string(240, 'd');
    const Built built = Build("C:\\WINDOWS", fits);
    EXPECT_EQ(built.result, UpdatePathsResult::PATHS_OK);
    EXPECT_EQ(built.source, fits + "\\PRNLINK.DLL");
    EXPECT_EQ(built.source.size(), 255u);

    const Built over = Build("C:\\WINDOWS", fits + "d");
    EXPECT_EQ(over.result, UpdatePathsResult::SOURCE_TOO_LONG);
    EXPECT_EQ(over.source, "");
    EXPECT_EQ(over.target, "");
    EXPECT_EQ(over.backup, "");

    // A directory that ends in a backslash needs one byte less.
    const std::string rooted = "C:\\" + std::string(240, 'd') + "\\";
    EXPECT_EQ(Build("C:\\WINDOWS", rooted).source, rooted + "PRNLINK.DLL");
}

TEST(UpdatePaths, BackupNameDecidesHowLongTheWindowsDirectoryMayBe) {
    // "\System32\PRNLINKOLD.DDL" is 24 characters: 231 + 24 = 255.
    const std::string fits = "C:\\" + std::string(228, 'w');
    const Built built = Build(fits, "C:\\new");
    EXPECT_EQ(built.result, UpdatePathsResult::PATHS_OK);
    EXPECT_EQ(built.backup, fits + "\\System32\\PRNLINKOLD.DDL");
    EXPECT_EQ(built.target, fits + "\\System32\\PRNLINK.DLL");

    const Built over = Build(fits + "w", "C:\\new");
    EXPECT_EQ(over.result, UpdatePathsResult::WINDOWS_DIRECTORY_TOO_LONG);
    EXPECT_EQ(over.source, "");
    EXPECT_EQ(over.target, "");
    EXPECT_EQ(over.backup, "");
}

TEST(UpdatePaths, RefusesWhatTheDirectoryQueriesCouldNotDeliver) {
    char windowsDirectory[] = "C:\\WINDOWS";
    // Contents the buffer might hold after a query that did not fill it: no NUL at all.
    char unfilled[UPDATE_PATH_SIZE];
    std::memset(unfilled, 'x', sizeof unfilled);
    UpdatePaths paths;

    // GetCurrentDirectoryA reports the size it needs, NUL included, when the buffer is
    // too small: 257 for a 256-character directory.
    EXPECT_EQ(BuildUpdatePaths(windowsDirectory, 10, unfilled, 257, &paths),
              UpdatePathsResult::SOURCE_TOO_LONG);
    EXPECT_EQ(BuildUpdatePaths(windowsDirectory, 10, unfilled, UPDATE_PATH_SIZE, &paths),
              UpdatePathsResult::SOURCE_TOO_LONG);
    EXPECT_EQ(BuildUpdatePaths(windowsDirectory, 10, unfilled, 0, &paths),
              UpdatePathsResult::SOURCE_TOO_LONG);
    EXPECT_EQ(BuildUpdatePaths(unfilled, 300, "C:\\new", 6, &paths),
              UpdatePathsResult::WINDOWS_DIRECTORY_TOO_LONG);
    EXPECT_EQ(BuildUpdatePaths(unfilled, 0, "C:\\new", 6, &paths),
              UpdatePathsResult::WINDOWS_DIRECTORY_TOO_LONG);
    EXPECT_EQ(paths.source[0], '\0');

    // A length beyond the string's end is cut back to the string.
    EXPECT_EQ(BuildUpdatePaths(windowsDirectory, 200, "C:\\new", 100, &paths),
              UpdatePathsResult::PATHS_OK);
    EXPECT_STREQ(paths.source, "C:\\new\\PRNLINK.DLL");
    EXPECT_STREQ(paths.target, "C:\\WINDOWS\\System32\\PRNLINK.DLL");
}

} // namespace
