#include "ordana/OutputFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"

namespace {

using velkar::ordana::NumberedVariant;
using velkar::ordana::OutputFile;

TEST(OutputFileTest, TakenNamesGetTheNextNumberBeforeTheExtension) {
    ordanatest::TemporaryFolder folder;
    std::vector<std::string> announced;
    OutputFile::SetAnnouncer([&](const std::string& path) { announced.push_back(path); });
    for (const std::string name : {"plot.cct_12-00-00.wca", "results", "plot.wca-mlp.report"}) {
        const std::string path = (folder / name).string();
        std::vector<std::string> written;
        for (int i = 1; i <= 3; ++i) {
            OutputFile file(path);
            file.Stream() << "text " << i;
            written.push_back(file.Commit());
            EXPECT_EQ(ordanatest::ReadText(written.back()), "text " + std::to_string(i));
        }
        EXPECT_EQ(written, (std::vector<std::string>{path, NumberedVariant(path, 2),
                                                     NumberedVariant(path, 3)}));
    }
    OutputFile::SetAnnouncer(nullptr);
    EXPECT_EQ(announced.size(), 9u);
    EXPECT_EQ(folder.FileNames().size(), 9u);  // no temporary file is left

    EXPECT_EQ(NumberedVariant("a/plot.cct_12.wca", 2), "a/plot.cct_12_2.wca");
    EXPECT_EQ(NumberedVariant("data.v2/results", 3), "data.v2/results_3");
    EXPECT_EQ(NumberedVariant("dir/.hidden", 2), "dir/.hidden_2");
    EXPECT_EQ(NumberedVariant("x.mlp", 1), "x.mlp");
}

// A name at the file system's 255-byte limit is written; the temporary name is never longer than
// the final one (six characters at the least) and stays in its folder.
TEST(OutputFileTest, NamesUpToTheLimitAreWritten) {
    ordanatest::TemporaryFolder folder;
    for (const std::size_t length : {1u, 5u, 6u, 7u, 12u, 13u, 40u, 243u, 244u, 255u}) {
        const std::string name = std::string(length - 1, 'n') + "x";
        const std::string path = (folder / name).string();
        const std::string pattern = velkar::ordana::TemporaryPattern(path);
        const auto slash = pattern.rfind('/');
        EXPECT_EQ(pattern.substr(0, slash), folder.Path().string()) << length;
        EXPECT_LE(pattern.size() - slash - 1, std::max<std::size_t>(length, 6)) << length;
        EXPECT_TRUE(pattern.ends_with("XXXXXX")) << pattern;
        OutputFile file(path);
        file.Stream() << length;
        EXPECT_EQ(file.Commit(), path);
        EXPECT_EQ(ordanatest::ReadText(path), std::to_string(length));
    }
    EXPECT_EQ(folder.FileNames().size(), 10u);
}

TEST(OutputFileTest, UnfinishedOrFailedWritesLeaveNothing) {
    ordanatest::TemporaryFolder folder;
    {
        OutputFile abandoned((folder / "abandoned.txt").string());
        abandoned.Stream() << "half";
    }
    EXPECT_TRUE(folder.FileNames().empty());

    std::filesystem::create_directory(folder / "gone");
    OutputFile orphan((folder / "gone" / "file.txt").string());
    orphan.Stream() << "text";
    std::filesystem::remove_all(folder / "gone");
    try {
        orphan.Commit();
        ADD_FAILURE() << "a commit into a removed folder succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("gone/file.txt"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(OutputFile((folder / "missing" / "file.txt").string()), std::runtime_error);
    EXPECT_TRUE(folder.FileNames().empty());
}

}  // namespace
