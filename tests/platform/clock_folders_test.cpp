#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/clock.h"
#include "platform/folders.h"

using namespace pagiro;

TEST(Clock, TimerAndElapsedAcrossMidnight) {
    float t = timer_seconds();
    EXPECT_GE(t, 0.0f);
    EXPECT_LT(t, 86400.0f);
    EXPECT_EQ(elapsed_seconds(100.0f, 112.9f), 12);
    EXPECT_EQ(elapsed_seconds(86395.0f, 5.5f), 10);  // never negative across midnight
    EXPECT_TRUE(std::regex_match(now_text(), std::regex(R"(\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d\d:\d\d)")));
}

TEST(Folders, CreatesOneLevelOnly) {
    namespace fs = std::filesystem;
    auto base = fs::temp_directory_path() / "pagiro_folder_test";
    fs::remove_all(base);
    fs::create_directories(base);
    EXPECT_FALSE(folder_exists(base / "out"));
    create_folder(base / "out");
    EXPECT_TRUE(folder_exists(base / "out"));
    create_folder(base / "out");  // existing: nothing happens

    try {
        create_folder(base / "missing" / "out");
        ADD_FAILURE();
    } catch (const FolderError& e) {
        EXPECT_EQ(e.reason, FolderError::Reason::ParentMissing);
    }
    std::ofstream(base / "file") << "x";
    try {
        create_folder(base / "file");
        ADD_FAILURE();
    } catch (const FolderError& e) {
        EXPECT_EQ(e.reason, FolderError::Reason::NotAFolder);
    }
    // A folder written with a trailing separator is the same folder, and so is its parent.
    create_folder(base.string() + "/new/");
    EXPECT_TRUE(folder_exists(base / "new"));
    create_folder(base.string() + "/new//");
    create_folder(base.string() + "/new/deeper//");
    EXPECT_TRUE(folder_exists(base / "new" / "deeper"));
    try {
        create_folder(base.string() + "/file/");
        ADD_FAILURE();
    } catch (const FolderError& e) {
        EXPECT_EQ(e.reason, FolderError::Reason::NotAFolder);
    }
    try {
        create_folder(base.string() + "/missing/out/");
        ADD_FAILURE();
    } catch (const FolderError& e) {
        EXPECT_EQ(e.reason, FolderError::Reason::ParentMissing);
    }
    fs::remove_all(base);
}
