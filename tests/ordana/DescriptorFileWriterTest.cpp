#include "ordana/DescriptorFileWriter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::ordana::DescriptorFileWriter;
using FlatDescriptors = DescriptorFileWriter::FlatDescriptors;

std::string Printed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// Every value is written as printf's "%.15g" prints it: zeros of both signs, the extremes,
// short and long fractions, and values of random bits.
TEST(DescriptorFileWriterTest, ValuesArePrintedAsPrintfDoes) {
    constexpr double kMax = std::numeric_limits<double>::max();
    std::vector<double> values = {0.0,    -0.0,     1.0,       -1.0,     0.5,       1.0 / 3,
                                  1e15,   1e16,     123456789012345678.0, 1e-5,   0.0001,
                                  kMax,   -kMax,    std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::min(), 9.999999999999995e14,
                                  std::numeric_limits<double>::infinity()};
    std::mt19937_64 random(29);
    for (int i = 0; i < 20000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (!std::isnan(value)) {
            values.push_back(value);
        }
        values.push_back(static_cast<double>(random() % 113) / 112.0);
    }
    char text[DescriptorFileWriter::kValueChars + 1];
    for (const double value : values) {
        const char* end = DescriptorFileWriter::FormatValue(value, text);
        ASSERT_LE(end - text, static_cast<long>(DescriptorFileWriter::kValueChars));
        ASSERT_EQ(std::string(static_cast<const char*>(text), end), Printed(value)) << std::bit_cast<std::uint64_t>(value);
    }
}

// A file of several blocks, some empty, whose polygons begin and end inside the formatting
// chunks, is every descriptor's line in block order, on one thread and on two.
TEST(DescriptorFileWriterTest, FileHoldsEveryBlockInOrder) {
    ordanatest::TemporaryFolder folder;
    std::mt19937 random(7);
    const std::vector<std::string> classes = {"water", "a field of a long class name", "x"};
    for (const int length : {1, 5, 700}) {
        std::vector<FlatDescriptors> blocks(5);
        std::string expected;
        int id = 0;
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const std::size_t count = b == 2 ? 0 : 1 + random() % (length == 700 ? 90 : 3000);
            for (std::size_t d = 0; d < count; ++d) {
                id += random() % 40 == 0 ? 1 : 0;
                blocks[b].polygonIds.push_back(id);
                expected += classes[static_cast<std::size_t>(id) % classes.size()];
                for (int k = 0; k < length; ++k) {
                    const double value =
                        random() % 3 == 0 ? 0.0 : static_cast<double>(random()) / 997.0 - 1e6;
                    blocks[b].values.push_back(value);
                    expected += " " + Printed(value);
                }
                expected += '\n';
            }
        }
        for (const int threads : {1, 2}) {
            const velkar::util::ThreadLimit limit(threads);
            const std::string path = DescriptorFileWriter::Write(
                (folder / "plot.wca").string(),
                [&classes](int polygon) {
                    return classes[static_cast<std::size_t>(polygon) % classes.size()];
                },
                blocks, length);
            EXPECT_TRUE(ordanatest::ReadText(path) == expected)
                << length << " values, " << threads << " threads";
        }
    }
}

}  // namespace
