#include "velkar/patternrecognition/PointK.h"

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TemporaryFolder.h"
#include "velkar/util/Array.h"
#include "velkar/util/Json.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using Points = std::vector<std::vector<double>>;

PatternSet MakeSet(const Points& vectors) {
    auto set = std::make_shared<PatternList>();
    for (const auto& features : vectors) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(1);
        pattern->SetDescriptors(features);
        set->push_back(pattern);
    }
    return set;
}

Points PointsOf(const PointK& classifier) {
    const auto& matrix = classifier.Points();
    Points points(matrix.Rows(), std::vector<double>(matrix.Columns()));
    for (int r = 0; r < matrix.Rows(); ++r) {
        for (int c = 0; c < matrix.Columns(); ++c) {
            points[r][c] = matrix(r, c);
        }
    }
    return points;
}

// Lloyd's iteration written out plainly: the starting rows are drawn as the classifier draws
// them (one index per point, in point order), ties go to the lower point, a point without
// members stays put.
Points ReferenceKMeans(const Points& data, int k, int iterations, unsigned seed) {
    util::Seed(seed);
    Points points;
    for (int p = 0; p < k; ++p) {
        points.push_back(data[util::RandomIndex(data.size())]);
    }
    for (int iteration = 0; iteration < iterations; ++iteration) {
        Points sums(k, std::vector<double>(data[0].size(), 0.0));
        std::vector<int> members(k, 0);
        for (const auto& x : data) {
            int nearest = 0;
            double best = std::numeric_limits<double>::infinity();
            for (int p = 0; p < k; ++p) {
                double distance = 0.0;
                for (std::size_t l = 0; l < x.size(); ++l) {
                    distance += (points[p][l] - x[l]) * (points[p][l] - x[l]);
                }
                if (std::sqrt(distance) < best) {
                    best = std::sqrt(distance);
                    nearest = p;
                }
            }
            ++members[nearest];
            for (std::size_t l = 0; l < x.size(); ++l) {
                sums[nearest][l] += x[l];
            }
        }
        for (int p = 0; p < k; ++p) {
            if (members[p] > 0) {
                for (std::size_t l = 0; l < sums[p].size(); ++l) {
                    points[p][l] = sums[p][l] / members[p];
                }
            }
        }
    }
    return points;
}

Points RandomData(int count, int dimension, std::mt19937& engine) {
    std::uniform_real_distribution<double> value(-10.0, 10.0);
    Points data(count, std::vector<double>(dimension));
    for (auto& row : data) {
        for (double& x : row) {
            x = value(engine);
        }
    }
    return data;
}

std::string ThrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<nothing thrown>";
}

TEST(PointK, DescribesItselfAndRejectsBadCounts) {
    PointK classifier(2, 3);
    EXPECT_EQ(classifier.Name(), "Point K");
    EXPECT_EQ(classifier.FileExtension(), "pk");
    EXPECT_EQ(classifier.Version(), "1.0");
    EXPECT_EQ(classifier.InputSize(), -1);
    EXPECT_THROW(PointK(0, 3), std::invalid_argument);
    EXPECT_THROW(PointK(2, -1), std::invalid_argument);
    EXPECT_THROW(PointK().Train(MakeSet({{1.0}})), std::logic_error);
}

TEST(PointK, TrainingMatchesAPlainKMeans) {
    std::mt19937 engine(31);
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const int k = 1 + static_cast<int>(seed % 4);
        const int iterations = static_cast<int>(seed % 5);
        const Points data = RandomData(15, 1 + static_cast<int>(seed % 3), engine);
        const Points expected = ReferenceKMeans(data, k, iterations, seed);
        util::Seed(seed);
        PointK classifier(k, iterations);
        testing::internal::CaptureStdout();
        classifier.Train(MakeSet(data));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "15\n");
        EXPECT_EQ(classifier.InputSize(), static_cast<int>(data[0].size()));
        const Points actual = PointsOf(classifier);
        ASSERT_EQ(actual.size(), expected.size());
        for (int p = 0; p < k; ++p) {
            for (std::size_t l = 0; l < data[0].size(); ++l) {
                EXPECT_NEAR(actual[p][l], expected[p][l], 1e-12) << "seed " << seed;
            }
        }
    }
}

TEST(PointK, OnePointEndsAtTheMeanAndAnswersOne) {
    testing::internal::CaptureStdout();
    PointK classifier(1, 1);
    classifier.Train(MakeSet({{1.0, 2.0}, {3.0, 6.0}, {8.0, -2.0}}));
    testing::internal::GetCapturedStdout();
    EXPECT_NEAR(classifier.Points()(0, 0), 4.0, 1e-15);
    EXPECT_NEAR(classifier.Points()(0, 1), 2.0, 1e-15);
    for (std::vector<double> x : Points{{0.0, 0.0}, {100.0, -50.0}}) {
        EXPECT_EQ(classifier.Classify(x), 1);
    }
}

TEST(PointK, TwoGroupsEndAtTheirMeansWhenStartedInBoth) {
    const Points data{{0.0}, {1.0}, {10.0}, {11.0}};
    int startsInBothGroups = 0;
    int repeatedStarts = 0;
    for (unsigned seed = 1; seed <= 30; ++seed) {
        util::Seed(seed);
        const std::size_t first = util::RandomIndex(4);
        const std::size_t second = util::RandomIndex(4);
        util::Seed(seed);
        PointK classifier(2, 3);
        testing::internal::CaptureStdout();
        classifier.Train(MakeSet(data));
        testing::internal::GetCapturedStdout();
        const Points points = PointsOf(classifier);
        ASSERT_TRUE(std::isfinite(points[0][0]) && std::isfinite(points[1][0]));
        if ((first < 2) != (second < 2)) {
            ++startsInBothGroups;
            const int low = first < 2 ? 0 : 1;
            EXPECT_EQ(points[low][0], 0.5);
            EXPECT_EQ(points[1 - low][0], 10.5);
            std::vector<double> two{2.0};
            EXPECT_EQ(classifier.Classify(two), low + 1);
        } else if (first == second) {
            // In the first iteration the second point never wins its tie with the first, has
            // no members and stays where it started; the first takes every vector.
            ++repeatedStarts;
            util::Seed(seed);
            PointK once(2, 1);
            testing::internal::CaptureStdout();
            once.Train(MakeSet(data));
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(once.Points()(0, 0), 5.5);
            EXPECT_EQ(once.Points()(1, 0), data[first][0]);
        }
    }
    EXPECT_GT(startsInBothGroups, 0);
    EXPECT_GT(repeatedStarts, 0);
}

TEST(PointK, RestoredTreeAndLoadedFileClassifyLikeTheTrainedPoints) {
    testsupport::TemporaryFolder folder;
    std::mt19937 engine(8);
    util::Seed(8);
    PointK trained(4, 5);
    testing::internal::CaptureStdout();
    trained.Train(MakeSet(RandomData(40, 3, engine)));
    testing::internal::GetCapturedStdout();

    const util::Json json(true);
    PointK restored;
    restored.SetConfiguration(std::shared_ptr<util::Collection>(
        json.Deserialize(json.Serialize(trained.Configuration().get()))));
    EXPECT_EQ(restored.InputSize(), 3);
    EXPECT_EQ(restored.PointCount(), 4);

    const std::string path = (folder / "points.pk").string();
    trained.Save(path);
    std::ifstream in(path);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "4 3");
    PointK loaded;
    loaded.Load(path);
    EXPECT_EQ(loaded.InputSize(), 3);
    for (int p = 0; p < 4; ++p) {
        for (int l = 0; l < 3; ++l) {
            EXPECT_NEAR(loaded.Points()(p, l), trained.Points()(p, l),
                        1e-5 * std::abs(trained.Points()(p, l)));
        }
    }

    // Vectors at the points themselves are far from any decision boundary.
    for (int p = 0; p < 4; ++p) {
        std::vector<double> x{trained.Points()(p, 0), trained.Points()(p, 1),
                              trained.Points()(p, 2)};
        const int answer = trained.Classify(x);
        EXPECT_EQ(restored.Classify(x), answer);
        EXPECT_EQ(loaded.Classify(x), answer);
    }
}

TEST(PointK, MalformedTreesAndFilesAreRejectedAndChangeNothing) {
    testsupport::TemporaryFolder folder;
    PointK classifier(2, 0);
    testing::internal::CaptureStdout();
    classifier.Train(MakeSet({{1.0, 1.0}, {5.0, 5.0}}));
    testing::internal::GetCapturedStdout();

    using Edit = std::function<void(util::Map&)>;
    const std::vector<std::pair<Edit, std::string>> trees = {
        {[](util::Map& t) { t.Put("point_count", new int(0)); }, "\"point_count\""},
        {[](util::Map& t) { t.Put("point_count", new int(3)); }, "\"points\""},
        {[](util::Map& t) { t.Put("dimension", new double(2.0)); }, "\"dimension\""},
        {[](util::Map& t) { t.Put("dimension", new int(3)); }, "\"points[0]\""},
        {[](util::Map& t) {
             auto* extra = new util::Array();
             extra->Add(new double(1.0));
             extra->Add(new double(std::numeric_limits<double>::quiet_NaN()));
             dynamic_cast<util::Array*>(t.GetCollection("points"))->Add(extra);
             t.Put("point_count", new int(3));
         },
         "\"points[2][1]\""},
    };
    for (const auto& [edit, key] : trees) {
        auto tree = std::dynamic_pointer_cast<util::Map>(classifier.Configuration());
        edit(*tree);
        PointK target(2, 0);
        const std::string message = ThrownMessage([&] { target.SetConfiguration(tree); });
        EXPECT_NE(message.find(key), std::string::npos) << message;
        EXPECT_EQ(target.InputSize(), -1);
    }

    const std::vector<std::pair<std::string, std::string>> files = {
        {"", "line 1"},           {"2\n1 1\n", "line 1"},          {"0 1\n", "line 1"},
        {"2 -1\n", "line 1"},     {"2 2\n1 1\n", "line 3"},        {"2 2\n1 1\n2 2 2\n", "line 3"},
        {"1 2\n1 e\n", "line 2"}, {"1 2\n1 2\n\n3 4\n", "line 4"}, {"1 1.5\n1\n", "line 1"},
    };
    for (const auto& [text, line] : files) {
        const std::string path = (folder / "bad.pk").string();
        std::ofstream(path) << text;
        const std::string message = ThrownMessage([&] { classifier.Load(path); });
        EXPECT_NE(message.find("'" + path + "', " + line), std::string::npos)
            << text << " -> " << message;
        EXPECT_EQ(classifier.InputSize(), 2);
        EXPECT_EQ(classifier.PointCount(), 2);
    }
    // Blank lines after the last row are allowed.
    const std::string path = (folder / "trailing.pk").string();
    std::ofstream(path) << "1 2\r\n1 2\r\n\n\n";
    classifier.Load(path);
    EXPECT_EQ(classifier.PointCount(), 1);
    EXPECT_EQ(classifier.Points()(0, 1), 2.0);
}

TEST(PointK, UnusableInputIsRejected) {
    PointK classifier(2, 1);
    EXPECT_THROW(classifier.Train(std::make_shared<PatternList>()), std::invalid_argument);
    EXPECT_THROW(classifier.Train(MakeSet({{1.0}, {1.0, 2.0}})), std::invalid_argument);
    EXPECT_THROW(classifier.Train(MakeSet({{1.0}, {std::numeric_limits<double>::infinity()}})),
                 std::invalid_argument);
    EXPECT_EQ(classifier.InputSize(), -1);
    std::vector<double> x{1.0};
    EXPECT_THROW(classifier.Classify(x), std::logic_error);
    testing::internal::CaptureStdout();
    classifier.Train(MakeSet({{1.0}, {3.0}}));
    testing::internal::GetCapturedStdout();
    std::vector<double> wrong{1.0, 2.0};
    EXPECT_THROW(classifier.Classify(wrong), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
