#include "velkar/patternrecognition/KMeans.h"

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "patternrecognition/NetworkClassifierTestSupport.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using classifiertest::MakePattern;
using Points = std::vector<std::vector<double>>;

struct Clustering {
    std::vector<int> membership;
    std::vector<int> counts;
    std::vector<double> variances;
    Points centers;
};

double Distance(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    }
    return std::sqrt(sum);
}

// Lloyd's iteration written out plainly from given starting centers, every iteration run.
Clustering Reference(const Points& points, Points centers, int iterations) {
    const std::size_t k = centers.size();
    Clustering result{std::vector<int>(points.size(), 0),
                      std::vector<int>(k, 0),
                      std::vector<double>(k, 0.0),
                      {}};
    for (int iteration = 0; iteration < iterations; ++iteration) {
        for (std::size_t i = 0; i < points.size(); ++i) {
            double best = std::numeric_limits<double>::max();
            for (std::size_t j = 0; j < k; ++j) {
                if (Distance(points[i], centers[j]) < best) {
                    best = Distance(points[i], centers[j]);
                    result.membership[i] = static_cast<int>(j);
                }
            }
        }
        for (std::size_t j = 0; j < k; ++j) {
            centers[j].assign(points[0].size(), 0.0);
            result.counts[j] = 0;
            result.variances[j] = 0.0;
        }
        for (std::size_t i = 0; i < points.size(); ++i) {
            for (std::size_t c = 0; c < points[i].size(); ++c) {
                centers[result.membership[i]][c] += points[i][c];
            }
            ++result.counts[result.membership[i]];
        }
        for (std::size_t j = 0; j < k; ++j) {
            for (double& value : centers[j]) {
                value /= result.counts[j];  // 0 / 0 gives the NaN of an empty cluster
            }
        }
        for (std::size_t i = 0; i < points.size(); ++i) {
            const int m = result.membership[i];
            result.variances[m] += Distance(centers[m], points[i]) / result.counts[m];
        }
    }
    result.centers = centers;
    return result;
}

PatternSet SetOf(const Points& points) {
    auto set = std::make_shared<PatternList>();
    for (const auto& point : points) {
        set->push_back(MakePattern(0, point));
    }
    return set;
}

// Trains with the given seed; the starting centers are the patterns that the same seed draws.
Clustering TrainAndPredictStart(const Points& points, int k, int iterations, unsigned seed,
                                Points& start) {
    util::Seed(seed);
    start.clear();
    for (int j = 0; j < k; ++j) {
        start.push_back(points[util::RandomIndex(points.size())]);
    }
    util::Seed(seed);
    KMeans clustering(k, iterations);
    clustering.Train(SetOf(points));
    Clustering result{clustering.PatternMembership(),
                      clustering.PatternMembershipCount(),
                      clustering.ClusterVariance(),
                      {}};
    for (const auto& center : clustering.Centers()) {
        result.centers.emplace_back(center->begin(), center->end());
    }
    return result;
}

TEST(KMeans, MatchesPlainLloydIterationFromTheDrawnStarts) {
    std::mt19937 engine(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    unsigned seed = 0;
    for (int count : {1, 5, 40}) {
        for (int dimension : {1, 3}) {
            Points points(count, std::vector<double>(dimension));
            for (auto& point : points) {
                for (double& value : point) {
                    value = noise(engine) + 4.0 * (engine() % 3);
                }
            }
            for (int k : {1, 2, 3, 7}) {
                for (int iterations : {0, 1, 4, 30}) {
                    SCOPED_TRACE(testing::Message() << count << " points, k " << k << ", "
                                                    << iterations << " iterations");
                    Points start;
                    const Clustering got =
                        TrainAndPredictStart(points, k, iterations, ++seed, start);
                    const Clustering want = Reference(points, start, iterations);
                    EXPECT_EQ(got.membership, want.membership);
                    EXPECT_EQ(got.counts, want.counts);
                    ASSERT_EQ(got.centers.size(), static_cast<std::size_t>(k));
                    for (int j = 0; j < k; ++j) {
                        EXPECT_NEAR(got.variances[j], want.variances[j], 1e-12);
                        for (int c = 0; c < dimension; ++c) {
                            if (std::isnan(want.centers[j][c])) {
                                EXPECT_TRUE(std::isnan(got.centers[j][c]));
                            } else {
                                EXPECT_NEAR(got.centers[j][c], want.centers[j][c], 1e-12);
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(KMeans, TwoGroupsSplitOrLeaveAnEmptyNanCluster) {
    const Points points{{0.0, 0.0}, {0.0, 1.0}, {10.0, 10.0}, {10.0, 11.0}};
    bool sawSplit = false;
    bool sawSameStart = false;
    for (unsigned seed = 1; seed < 200 && !(sawSplit && sawSameStart); ++seed) {
        Points start;
        const Clustering got = TrainAndPredictStart(points, 2, 10, seed, start);
        const bool firstLow = start[0][0] == 0.0;
        if (firstLow != (start[1][0] == 0.0)) {
            sawSplit = true;
            const Points expected =
                firstLow ? Points{{0.0, 0.5}, {10.0, 10.5}} : Points{{10.0, 10.5}, {0.0, 0.5}};
            EXPECT_EQ(got.centers, expected);
            EXPECT_EQ(got.counts, (std::vector<int>{2, 2}));
            EXPECT_EQ(got.variances, (std::vector<double>{0.5, 0.5}));
        } else if (start[0] == start[1]) {
            // Ties go to the lower index: the second cluster never gets a member.
            sawSameStart = true;
            EXPECT_EQ(got.counts, (std::vector<int>{4, 0}));
            EXPECT_TRUE(std::isnan(got.centers[1][0]) && std::isnan(got.centers[1][1]));
            EXPECT_EQ(got.membership, (std::vector<int>{0, 0, 0, 0}));
        }
    }
    EXPECT_TRUE(sawSplit && sawSameStart);
}

TEST(KMeans, IsNoClassifier) {
    KMeans clustering(2, 5);
    EXPECT_EQ(clustering.InputSize(), -1);
    clustering.Train(SetOf({{1.0, 2.0}, {3.0, 4.0}, {5.0, 1.0}}));
    EXPECT_EQ(clustering.InputSize(), 2);
    std::vector<double> features{1.0, 2.0};
    EXPECT_EQ(clustering.Classify(features), -1);
    const auto configuration = clustering.Configuration();
    ASSERT_NE(dynamic_cast<util::Map*>(configuration.get()), nullptr);
    EXPECT_EQ(configuration->Size(), 0);
    EXPECT_EQ(clustering.Name(), "KMeans");
    EXPECT_EQ(clustering.FileExtension(), "km");
}

TEST(KMeans, RejectsUnusableSettingsAndTrainingSets) {
    EXPECT_THROW(KMeans(0, 5), std::invalid_argument);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        PatternSet set;
        std::string mention;
    };
    auto withNull = SetOf({{1.0}});
    withNull->push_back(nullptr);
    const std::vector<Case> cases{
        {nullptr, "at least one pattern"},
        {SetOf({}), "at least one pattern"},
        {withNull, "pattern 1 is missing"},
        {SetOf({{1.0, 2.0}, {1.0}}), "pattern 1 has 1 features, expected 2"},
        {SetOf({{}, {}}), "at least one feature"},
        {SetOf({{1.0}, {2.0}, {nan}}), "pattern 2 has a non-finite feature 0"},
        {SetOf({{1.0, -inf}}), "pattern 0 has a non-finite feature 1"},
    };
    for (const Case& c : cases) {
        KMeans clustering(1, 5);
        try {
            clustering.Train(c.set);
            ADD_FAILURE() << "accepted a set that should mention " << c.mention;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(c.mention), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace velkar::patternrecognition
