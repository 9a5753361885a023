#include "ordana/FileNames.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

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

TEST(FileNamesTest, PrefixEndsAtTheLastSlashAndTheComponentFollowsIt) {
    // Backslashes do not separate directories.
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"data/scene.png", "data/", "scene.png"},
        {"a/b/c/scene.png", "a/b/c/", "scene.png"},
        {"/scene.png", "/", "scene.png"},
        {"data/", "data/", ""},
        {"scene.png", "", "scene.png"},
        {"", "", ""},
        {"a//b", "a//", "b"},
        {"C:\\data\\scene.png", "", "C:\\data\\scene.png"},
        {"x\\y/scene.png", "x\\y/", "scene.png"},
    };
    for (const auto& [path, prefix, component] : cases) {
        EXPECT_EQ(DirectoryPrefix(path), prefix) << path;
        EXPECT_EQ(LastPathComponent(path), component) << path;
    }
}

}  // namespace
