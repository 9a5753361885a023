#include "ordana/FileNames.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"

namespace {

using velkar::ordana::DirectoryPrefix;
using velkar::ordana::LastPathComponent;
using velkar::ordana::TimestampedFileName;

std::string LocalStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local);
    return text;
}

TEST(FileNamesTest, TimestampedNameIsBaseStampAndExtension) {
    const std::time_t before = std::time(nullptr);
    const std::string name = TimestampedFileName("data/plot.txt", "wca");
    const std::time_t after = std::time(nullptr);

    ASSERT_TRUE(ordanatest::IsTimestampedName(name, "data/plot.txt", "wca")) << name;
    // The stamp is the local time of the call; the fixed-width format sorts like the time.
    const std::string stamp = name.substr(std::string("data/plot.txt_").size(), 19);
    EXPECT_GE(stamp, LocalStamp(before)) << name;
    EXPECT_LE(stamp, LocalStamp(after)) << name;
}

TEST(FileNamesTest, TimestampedNameKeepsBaseAndExtensionAsGiven) {
    for (const auto& [base, extension] :
         std::vector<std::pair<std::string, std::string>>{{"", "cct"},
                                                          {"processing", "cct"},
                                                          {"dir/sub/results", "cct"},
                                                          {"plot.cct_hsv", "wca"},
                                                          {"x", "wca-mlp"}}) {
        const std::string name = TimestampedFileName(base, extension);
        EXPECT_TRUE(ordanatest::IsTimestampedName(name, base, extension))
            << base << " " << extension << " -> " << name;
    }
}

TEST(FileNamesTest, DirectoryPrefixEndsAtTheLastSlash) {
    EXPECT_EQ(DirectoryPrefix("data/scene.png"), "data/");
    EXPECT_EQ(DirectoryPrefix("a/b/c/scene.png"), "a/b/c/");
    EXPECT_EQ(DirectoryPrefix("/scene.png"), "/");
    EXPECT_EQ(DirectoryPrefix("data/"), "data/");
    EXPECT_EQ(DirectoryPrefix("scene.png"), "");
    EXPECT_EQ(DirectoryPrefix(""), "");
    // Backslashes do not separate directories.
    EXPECT_EQ(DirectoryPrefix("C:\\data\\scene.png"), "");
    EXPECT_EQ(DirectoryPrefix("x\\y/scene.png"), "x\\y/");
}

TEST(FileNamesTest, LastPathComponentFollowsTheLastSlash) {
    EXPECT_EQ(LastPathComponent("data/scene.png"), "scene.png");
    EXPECT_EQ(LastPathComponent("a/b/c/scene.png"), "scene.png");
    EXPECT_EQ(LastPathComponent("scene.png"), "scene.png");
    EXPECT_EQ(LastPathComponent("data/"), "");
    EXPECT_EQ(LastPathComponent(""), "");
    EXPECT_EQ(LastPathComponent("C:\\data\\scene.png"), "C:\\data\\scene.png");
}

TEST(FileNamesTest, PrefixAndComponentRebuildThePath) {
    for (const std::string path : {"data/scene.png", "/a/b", "scene.png", "a//b", "dir/", ""}) {
        EXPECT_EQ(DirectoryPrefix(path) + LastPathComponent(path), path) << path;
    }
}

}  // namespace
