#include "velkar/patternrecognition/PointK.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClassifierTestSupport.h"
#include "common/TemporaryFolder.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using classifiertest::Samples;
using Rows = std::vector<std::vector<double>>;

PatternSet MakeSet(const Rows& vectors) {
    Samples samples;
    for (const auto& features : vectors) {
        samples.push_back({1, features});
    }
    return classifiertest::MakeSet(samples);
}

// Trains with the seed; returns what the size report was given, one line per call, and the
// standard output Train wrote (none: the library prints nothing).
std::string Train(PointK& classifier, const Rows& data, unsigned seed) {
    util::Seed(seed);
    std::string reported;
    classifier.SetTrainingSizeReport(
        [&reported](std::size_t size) { reported += std::to_string(size) + "\n"; });
    testing::internal::CaptureStdout();
    classifier.Train(MakeSet(data));
    return reported + testing::internal::GetCapturedStdout();
}

TEST(PointK, OnePointIsTheMeanAndTwoGroupsEndAtTheirMeans) {
    PointK one(1, 1);
    EXPECT_EQ(Train(one, {{1.0, 2.0}, {3.0, 6.0}, {8.0, -2.0}}, 1), "3\n");
    EXPECT_NEAR(one.Points()(0, 0), 4.0, 1e-15);
    EXPECT_NEAR(one.Points()(0, 1), 2.0, 1e-15);
    std::vector<double> far{100.0, -50.0};
    EXPECT_EQ(one.Classify(far), 1);

    const Rows data{{0.0}, {1.0}, {10.0}, {11.0}};
    int bothGroups = 0;
    int repeated = 0;
    for (unsigned seed = 1; seed <= 30; ++seed) {
        util::Seed(seed);
        const std::size_t first = util::RandomIndex(4);
        const std::size_t second = util::RandomIndex(4);
        if ((first < 2) != (second < 2)) {
            ++bothGroups;
            PointK classifier(2, 3);
            Train(classifier, data, seed);
            const int low = first < 2 ? 0 : 1;
            EXPECT_EQ(classifier.Points()(low, 0), 0.5);
            EXPECT_EQ(classifier.Points()(1 - low, 0), 10.5);
            std::vector<double> two{2.0};
            EXPECT_EQ(classifier.Classify(two), low + 1);
        } else if (first == second) {
            // The second point loses every tie, has no members and keeps its place; without
            // iterations both stay at the drawn vector.
            ++repeated;
            PointK still(2, 0);
            Train(still, data, seed);
            EXPECT_EQ(still.Points()(0, 0), data[first][0]);
            EXPECT_EQ(still.Points()(1, 0), data[first][0]);
            PointK classifier(2, 1);
            Train(classifier, data, seed);
            EXPECT_EQ(classifier.Points()(0, 0), 5.5);
            EXPECT_EQ(classifier.Points()(1, 0), data[first][0]);
        }
    }
    EXPECT_GT(bothGroups, 0);
    EXPECT_GT(repeated, 0);
}

TEST(PointK, TreeAndFileRestoreThePoints) {
    testsupport::TemporaryFolder folder;
    PointK trained(3, 4);
    Train(trained, {{0, 0}, {1, 0}, {9, 9}, {10, 9}, {-8, 5}, {-9, 5}, {0, 1}}, 8);
    PointK restored;
    restored.SetConfiguration(classifiertest::ThroughJson(trained.Configuration()));
    const std::string path = (folder / "points.pk").string();
    trained.Save(path);
    PointK loaded;
    loaded.Load(path);
    for (PointK* copy : {&restored, &loaded}) {
        EXPECT_EQ(copy->PointCount(), 3);
        EXPECT_EQ(copy->InputSize(), 2);
        for (int p = 0; p < 3; ++p) {
            std::vector<double> x{trained.Points()(p, 0), trained.Points()(p, 1)};
            EXPECT_NEAR(copy->Points()(p, 0), x[0], 1e-5 * std::abs(x[0]));
            EXPECT_EQ(copy->Classify(x), trained.Classify(x));
        }
    }
    // A point count below 1, and points of the wrong length, change nothing.
    classifiertest::WriteFile(path, "0 2\n");
    EXPECT_THROW(loaded.Load(path), std::runtime_error);
    auto tree = std::dynamic_pointer_cast<util::Map>(trained.Configuration());
    tree->Put("dimension", new int(3));
    EXPECT_NE(classifiertest::ThrownMessage([&] {
                  restored.SetConfiguration(tree);
              }).find("\"points[0]\""),
              std::string::npos);
    EXPECT_EQ(loaded.PointCount(), 3);
    EXPECT_EQ(restored.InputSize(), 2);
}

TEST(PointK, UnusableSettingsAndInputAreRejected) {
    EXPECT_THROW(PointK(0, 3), std::invalid_argument);
    EXPECT_THROW(PointK(2, -1), std::invalid_argument);
    EXPECT_THROW(PointK().Train(MakeSet({{1.0}})), std::logic_error);
    PointK classifier(2, 1);
    EXPECT_THROW(classifier.Train(MakeSet({})), std::invalid_argument);
    EXPECT_THROW(classifier.Train(MakeSet({{1.0}, {1.0, 2.0}})), std::invalid_argument);
    EXPECT_THROW(classifier.Train(MakeSet({{1.0}, {std::numeric_limits<double>::infinity()}})),
                 std::invalid_argument);
    std::vector<double> x{1.0};
    EXPECT_THROW(classifier.Classify(x), std::logic_error);
    Train(classifier, {{1.0}, {3.0}}, 1);
    std::vector<double> wrong{1.0, 2.0};
    EXPECT_THROW(classifier.Classify(wrong), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
