#include "velkar/patternrecognition/KMeans.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "patternrecognition/NetworkClassifierTestSupport.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using namespace classifiertest;

struct Clustering {
    std::vector<int> membership, counts;
    std::vector<double> variances;
    Rows centers;
};

// Trains with the given seed; `start` receives the patterns that the same seed draws first.
Clustering Train(const Rows& points, int k, int iterations, unsigned seed, Rows& start) {
    util::Seed(seed);
    start.clear();
    for (int j = 0; j < k; ++j) start.push_back(points[util::RandomIndex(points.size())]);
    Samples samples;
    for (const auto& point : points) samples.emplace_back(0, point);
    util::Seed(seed);
    KMeans clustering(k, iterations);
    clustering.Train(MakeSet(samples));
    Clustering out{clustering.PatternMembership(),
                   clustering.PatternMembershipCount(),
                   clustering.ClusterVariance(),
                   {}};
    for (const auto& center : clustering.Centers())
        out.centers.emplace_back(center->begin(), center->end());
    return out;
}

TEST(KMeans, TwoGroupsSplitOrLeaveAnEmptyNanCluster) {
    const Rows points{{0.0, 0.0}, {0.0, 1.0}, {10.0, 10.0}, {10.0, 11.0}};
    bool sawSplit = false, sawSameStart = false;
    for (unsigned seed = 1; seed < 200 && !(sawSplit && sawSameStart); ++seed) {
        Rows start;
        const Clustering got = Train(points, 2, 10, seed, start);
        if ((start[0][0] == 0.0) != (start[1][0] == 0.0)) {
            sawSplit = true;
            const Rows low{{0.0, 0.5}, {10.0, 10.5}}, high{low[1], low[0]};
            EXPECT_EQ(got.centers, start[0][0] == 0.0 ? low : high);
            EXPECT_EQ(got.counts, (std::vector<int>{2, 2}));
            EXPECT_EQ(got.variances, (std::vector<double>{0.5, 0.5}));
        } else if (start[0] == start[1]) {
            // Ties go to the lower index: the second cluster never gets a member.
            sawSameStart = true;
            EXPECT_EQ(got.counts, (std::vector<int>{4, 0}));
            EXPECT_TRUE(std::isnan(got.centers[1][0]));
        }
    }
    EXPECT_TRUE(sawSplit && sawSameStart);
}

TEST(KMeans, OneClusterIsTheMeanAndNoClassifier) {
    const Rows points{{1.0, 2.0}, {3.0, 4.0}, {5.0, 0.0}, {-1.0, 2.0}};
    Rows start;
    const Clustering got = Train(points, 1, 3, 5, start);
    EXPECT_EQ(got.centers, (Rows{{2.0, 2.0}}));
    EXPECT_EQ(got.membership, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(got.counts, (std::vector<int>{4}));
    EXPECT_DOUBLE_EQ(got.variances[0], (std::sqrt(1.0 + 0.0) + std::sqrt(1.0 + 4.0) +
                                        std::sqrt(9.0 + 4.0) + std::sqrt(9.0 + 0.0)) /
                                           4.0);
    KMeans clustering(1, 1);
    clustering.Train(MakeSet({{0, {1.0, 2.0}}}));
    std::vector<double> features{1.0, 2.0};
    EXPECT_EQ(clustering.Classify(features), -1);
    EXPECT_EQ(clustering.Configuration()->Size(), 0);
    EXPECT_THROW(KMeans(0, 5), std::invalid_argument);
}

TEST(KMeans, RefusesUnusableTrainingSetsByPattern) {
    const std::vector<std::pair<PatternSet, std::string>> cases{
        {nullptr, "at least one pattern"},
        {MakeSet({{0, {1.0, 2.0}}, {0, {1.0}}}), "pattern 1 has 1 features, expected 2"},
        {MakeSet({{0, {}}}), "at least one feature"},
        {MakeSet({{0, {1.0}}, {0, {2.0}}, {0, {std::nan("")}}}),
         "pattern 2 has a non-finite feature 0"},
    };
    for (const auto& [set, mention] : cases) {
        EXPECT_NE(ThrownMessage([&] { KMeans(1, 5).Train(set); }).find(mention), std::string::npos)
            << mention;
    }
}

}  // namespace
}  // namespace velkar::patternrecognition
