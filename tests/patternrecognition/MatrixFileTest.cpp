#include "velkar/patternrecognition/MatrixFile.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClassifierTestSupport.h"
#include "common/TemporaryFolder.h"

namespace velkar::patternrecognition {
namespace {

using classifiertest::ThrownMessage;
using classifiertest::WriteFile;

// Reads a file whose header is "rows columns".
math::Matrix<double> ReadTwoFieldFile(const std::string& path) {
    MatrixFile file(path);
    const std::vector<int> header = file.ReadHeader(2);
    return file.ReadRows(header[0], header[1]);
}

TEST(MatrixFile, WrittenMatricesReadBackToSixDigits) {
    testsupport::TemporaryFolder folder;
    math::Matrix<double> matrix(2, 3);
    const std::vector<double> values{1.0, -2.5, 1234567.0, 1e-7, 0.333333333, -4e12};
    for (int i = 0; i < 6; ++i) {
        matrix(i / 3, i % 3) = values[i];
    }
    const std::string path = (folder / "m.txt").string();
    MatrixFile::Write(path, {2, 3}, matrix);
    const math::Matrix<double> read = ReadTwoFieldFile(path);
    ASSERT_EQ(read.Rows(), 2);
    ASSERT_EQ(read.Columns(), 3);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(read(i / 3, i % 3), values[i], 5e-6 * std::abs(values[i])) << i;
    }
    // Blank lines after the last row and DOS line ends are accepted.
    WriteFile(path, "1 2\r\n1 2\r\n\n \n");
    EXPECT_EQ(ReadTwoFieldFile(path)(0, 1), 2.0);
    EXPECT_THROW(MatrixFile::Write((folder / "no" / "such.txt").string(), {1}, matrix),
                 std::runtime_error);
}

TEST(MatrixFile, MalformedFilesNameFileAndLine) {
    testsupport::TemporaryFolder folder;
    const std::string path = (folder / "bad.txt").string();
    const std::vector<std::pair<std::string, int>> cases = {
        {"", 1},                     // no header
        {"2\n1 1\n", 1},             // short header
        {"2 2 2\n", 1},              // long header
        {"2 x\n", 1},                // header field not an integer
        {"1 1.5\n1\n", 1},           // header field not an integer
        {"-1 2\n", 1},               // negative size
        {"2 2\n1 1\n", 3},           // a row missing
        {"2 2\n1 1\n2 2 2\n", 3},    // a row too long
        {"2 2\n1 1\n2\n", 3},        // a row too short
        {"1 2\n1 2\n\n3 4\n", 4},    // more rows than announced
        {"1 2\n1 e\n", 2},           // not a number
        {"1 2\n1 2x\n", 2},          // trailing characters
        {"1 2\n1 inf\n", 2},         // not finite
        {"1 2\n1 nan\n", 2},         // not finite
        {"1 2\n1 1e400\n", 2},       // out of range
        {"1 2000000000\n1 2\n", 1},  // a huge header is refused from its sizes
        {"2 5000001\n1 2\n", 1},     // one value past the limit of models
        {"1 10000000\n1 2\n", 2},    // at the limit: read, and found short
    };
    for (const auto& [text, line] : cases) {
        WriteFile(path, text);
        const std::string message = ThrownMessage([&] { ReadTwoFieldFile(path); });
        EXPECT_EQ(message.rfind("The file '" + path + "', line " + std::to_string(line) + ": ", 0),
                  0u)
            << text << " -> " << message;
    }
    EXPECT_EQ(ThrownMessage([&] { MatrixFile((folder / "missing").string()); }),
              "Cannot open the file '" + (folder / "missing").string() + "'.");
}

}  // namespace
}  // namespace velkar::patternrecognition
