#include "velkar/patternrecognition/MahalanobisDistance.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClassifierTestSupport.h"
#include "common/TemporaryFolder.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"

namespace velkar::patternrecognition {
namespace {

using classifiertest::MakeSet;
using classifiertest::Samples;
using classifiertest::ThrownMessage;
using math::Matrix;

// Class 1 at {0, 2} and class 2 at {10, 12}, each vector followed by extra: mean 6, variance 26.
PatternSet TwoClassLine(const std::vector<double>& extra = {}) {
    Samples samples;
    for (auto [classId, value] : {std::pair{1, 0.0}, {1, 2.0}, {2, 10.0}, {2, 12.0}}) {
        std::vector<double> features{value};
        features.insert(features.end(), extra.begin(), extra.end());
        samples.push_back({classId, features});
    }
    return MakeSet(samples);
}

// Distances from scratch: covariance of all vectors (divisor N), class means, and d^T S^-1 d
// through a linear solve rather than an inverse.
std::vector<double> ReferenceDistances(const Samples& set, int classCount,
                                       const std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    const double count = static_cast<double>(set.size());
    std::vector<double> mean(n, 0.0);
    for (const auto& [c, f] : set) {
        for (int j = 0; j < n; ++j) {
            mean[j] += f[j] / count;
        }
    }
    Matrix<double> covariance(n, n);
    for (const auto& [c, f] : set) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) {
                covariance(j, k) += (f[j] - mean[j]) * (f[k] - mean[k]) / count;
            }
        }
    }
    std::vector<double> distances;
    for (int c = 1; c <= classCount; ++c) {
        Matrix<double> d(n, 1);
        int members = 0;
        for (const auto& [classId, f] : set) {
            members += classId == c ? 1 : 0;
            for (int j = 0; j < n && classId == c; ++j) {
                d(j, 0) += f[j];
            }
        }
        for (int j = 0; j < n; ++j) {
            d(j, 0) = d(j, 0) / members - x[j];
        }
        Matrix<double> solved(d);
        Matrix<double>(covariance).Solve(solved);
        distances.push_back(std::sqrt(d.DotProduct(solved)));
    }
    return distances;
}

int NearestLaterOnTies(const std::vector<double>& distances) {
    int best = 0;
    for (int c = 1; c < static_cast<int>(distances.size()); ++c) {
        best = distances[c] <= distances[best] ? c : best;
    }
    return best + 1;
}

// Gaussian clouds around one centre per class, mixed through a random matrix so the features
// are correlated.
Samples CorrelatedClouds(int classCount, int perClass, int n, std::mt19937& engine) {
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> mixing(n * n);
    for (double& value : mixing) {
        value = noise(engine);
    }
    Samples samples;
    for (int c = 1; c <= classCount; ++c) {
        std::vector<double> centre(n);
        for (double& value : centre) {
            value = 3.0 * noise(engine);
        }
        for (int i = 0; i < perClass; ++i) {
            std::vector<double> z(n);
            for (double& value : z) {
                value = noise(engine);
            }
            std::vector<double> features(centre);
            for (int j = 0; j < n * n; ++j) {
                features[j / n] += mixing[j] * z[j % n];
            }
            samples.push_back({c, features});
        }
    }
    return samples;
}

TEST(MahalanobisDistance, TieAtFiveOverRootTwentySixGoesToTheLaterClass) {
    MahalanobisDistance classifier(2);
    EXPECT_EQ(classifier.Name(), "Mahalanobis Distance");
    EXPECT_EQ(classifier.FileExtension(), "md");
    EXPECT_EQ(classifier.InputSize(), -1);
    classifier.Train(TwoClassLine());
    EXPECT_EQ(classifier.InputSize(), 1);
    EXPECT_DOUBLE_EQ((*classifier.InverseCovariance())(0, 0), 1.0 / 26.0);
    EXPECT_DOUBLE_EQ((*classifier.Means())(1, 0), 11.0);
    std::vector<double> middle{6.0};
    const std::vector<double> distances = classifier.Distances(middle);
    EXPECT_DOUBLE_EQ(distances[0], 5.0 / std::sqrt(26.0));
    EXPECT_EQ(distances[0], distances[1]);
    EXPECT_EQ(classifier.Classify(middle), 2);
    for (auto [value, expected] : {std::pair{1.0, 1}, {11.0, 2}, {5.99, 1}}) {
        std::vector<double> x{value};
        EXPECT_EQ(classifier.Classify(x), expected) << value;
    }
}

TEST(MahalanobisDistance, DistancesMatchAnIndependentComputation) {
    std::mt19937 engine(2024);
    std::normal_distribution<double> probe(0.0, 5.0);
    for (int n = 1; n <= 6; ++n) {
        const int classCount = 2 + n % 3;
        const Samples samples = CorrelatedClouds(classCount, 12, n, engine);
        MahalanobisDistance classifier(classCount);
        classifier.Train(MakeSet(samples));
        for (int i = 0; i < 20; ++i) {
            std::vector<double> x(n);
            for (double& value : x) {
                value = probe(engine);
            }
            const std::vector<double> expected = ReferenceDistances(samples, classCount, x);
            const std::vector<double> actual = classifier.Distances(x);
            for (int c = 0; c < classCount; ++c) {
                EXPECT_NEAR(actual[c], expected[c], 1e-9 * (1.0 + expected[c])) << n;
            }
            EXPECT_EQ(classifier.Classify(x), NearestLaterOnTies(expected));
        }
    }
}

TEST(MahalanobisDistance, ClassesWithoutTrainingPatternsAreNeverChosen) {
    // C = 3 with class 3 empty, then with class 1 empty (whose NaN mean once came first).
    for (const auto& [missing, shift] : {std::pair{3, 0}, {1, 1}}) {
        PatternSet set = TwoClassLine();
        for (const auto& pattern : *set) {
            pattern->SetClass(pattern->Class() + shift);
        }
        MahalanobisDistance classifier(3);
        classifier.Train(set);
        for (double value : {-50.0, 1.0, 6.0, 11.0, 50.0}) {
            std::vector<double> x{value};
            EXPECT_TRUE(std::isnan(classifier.Distances(x)[missing - 1]));
            EXPECT_EQ(classifier.Classify(x), (value < 6.0 ? 1 : 2) + shift) << value;
        }
    }
}

TEST(MahalanobisDistance, SingularCovariancesStillClassify) {
    // A constant feature adds nothing, whatever value a vector has there.
    MahalanobisDistance constant(2);
    constant.Train(TwoClassLine({7.25}));
    EXPECT_EQ((*constant.InverseCovariance())(1, 1), 0.0);
    for (double value : {7.25, 1000.0}) {
        std::vector<double> middle{6.0, value};
        EXPECT_NEAR(constant.Distances(middle)[0], 5.0 / std::sqrt(26.0), 1e-12);
        EXPECT_EQ(constant.Classify(middle), 2);
        std::vector<double> low{1.0, value};
        EXPECT_EQ(constant.Classify(low), 1);
    }

    // Colour average with monochromatic band and normalisation: three mean chromaticities that
    // sum to 1, and the mean luminance. The distances must be those of (red, green, luminance).
    std::mt19937 engine(99);
    std::uniform_int_distribution<int> jitter(-30, 30);
    const std::vector<std::vector<double>> colours{{200, 40, 40}, {40, 180, 60}, {90, 90, 200}};
    auto window = [&](const std::vector<double>& colour) {
        std::vector<double> bands(4, 0.0);
        for (int pixel = 0; pixel < 9; ++pixel) {
            const double r = colour[0] + jitter(engine);
            const double g = colour[1] + jitter(engine);
            const double b = colour[2] + jitter(engine);
            bands[0] += r / (r + g + b) / 9.0;
            bands[1] += g / (r + g + b) / 9.0;
            bands[2] += b / (r + g + b) / 9.0;
            bands[3] += (0.2126 * r + 0.7152 * g + 0.0722 * b) / 9.0;
        }
        return bands;
    };
    Samples full;
    Samples reduced;
    for (int i = 0; i < 120; ++i) {
        const std::vector<double> bands = window(colours[i % 3]);
        full.push_back({i % 3 + 1, bands});
        reduced.push_back({i % 3 + 1, {bands[0], bands[1], bands[3]}});
    }
    MahalanobisDistance chromaticity(3);
    chromaticity.Train(MakeSet(full));
    for (int i = 0; i < 60; ++i) {
        std::vector<double> probe = window(colours[i % 3]);
        const std::vector<double> expected =
            ReferenceDistances(reduced, 3, {probe[0], probe[1], probe[3]});
        const std::vector<double> actual = chromaticity.Distances(probe);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(actual[c], expected[c], 1e-5 * (1.0 + expected[c]));
        }
        EXPECT_EQ(chromaticity.Classify(probe), NearestLaterOnTies(expected));
    }
}

TEST(MahalanobisDistance, TreeRestoresTheModelAndMalformedTreesChangeNothing) {
    std::mt19937 engine(5);
    MahalanobisDistance trained(4);  // class 4 gets no patterns: an empty row in the tree
    trained.Train(MakeSet(CorrelatedClouds(3, 15, 4, engine)));
    MahalanobisDistance restored;
    restored.SetConfiguration(classifiertest::ThroughJson(trained.Configuration()));
    EXPECT_EQ(restored.ClassCount(), 4);
    std::normal_distribution<double> probe(0.0, 6.0);
    for (int i = 0; i < 200; ++i) {
        std::vector<double> x{probe(engine), probe(engine), probe(engine), probe(engine)};
        const int answer = trained.Classify(x);
        EXPECT_NE(answer, 4);
        EXPECT_EQ(restored.Classify(x), answer);
    }

    auto singleRow = [](auto* value) {
        auto* row = new util::Array();
        row->Add(value);
        auto* table = new util::Array();
        table->Add(row);
        return table;
    };
    const std::vector<std::pair<std::function<void(util::Map&)>, std::string>> edits = {
        {[](util::Map& t) { t.Put("class_count", new int(0)); }, "\"class_count\""},
        {[](util::Map& t) { t.Put("dimension", new int(3)); }, "\"means[0]\""},
        {[&](util::Map& t) {
             t.Put("dimension", new int(1));
             t.Put("means", singleRow(new util::Array()));
         },
         "\"means\""},  // every class empty
        {[&](util::Map& t) {
             t.Put("dimension", new int(1));
             t.Put("class_count", new int(1));
             t.Put("means", singleRow(new double(1.0)));
             t.Put("inverse_covariance",
                   singleRow(new double(std::numeric_limits<double>::infinity())));
         },
         "\"inverse_covariance[0][0]\""},
    };
    for (const auto& [edit, key] : edits) {
        auto tree = std::dynamic_pointer_cast<util::Map>(trained.Configuration());
        edit(*tree);
        const std::string message = ThrownMessage([&] { restored.SetConfiguration(tree); });
        EXPECT_NE(message.find(key), std::string::npos) << message;
        EXPECT_EQ(restored.ClassCount(), 4) << key;
        EXPECT_EQ(restored.InputSize(), 4) << key;
    }
    EXPECT_THROW(restored.SetConfiguration(std::make_shared<util::Array>()), std::runtime_error);
}

TEST(MahalanobisDistance, SaveAndLoadTheInverseCovariance) {
    testsupport::TemporaryFolder folder;
    const std::string path = (folder / "model.md").string();
    MahalanobisDistance trained(2);
    trained.Train(TwoClassLine({3.0, 5.0}));
    std::vector<double> x{4.0, 3.0, 5.0};
    const int answer = trained.Classify(x);
    trained.Save(path);
    std::ifstream in(path);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(text.rfind("3\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);

    // The file holds the dimension and the matrix, not the means: the trained object keeps its
    // means, a fresh one cannot classify.
    trained.Load(path);
    EXPECT_EQ(trained.Classify(x), answer);
    MahalanobisDistance fresh(2);
    fresh.Load(path);
    EXPECT_EQ(fresh.InputSize(), 3);
    EXPECT_NEAR((*fresh.InverseCovariance())(0, 0), 1.0 / 26.0, 1e-6 / 26.0);
    EXPECT_THROW(fresh.Classify(x), std::logic_error);

    classifiertest::WriteFile(path, "2 2\n1 0\n0 1\n");
    EXPECT_NE(ThrownMessage([&] { fresh.Load(path); }).find("line 1"), std::string::npos);
    EXPECT_EQ(fresh.InputSize(), 3);
}

TEST(MahalanobisDistance, UnusableInputIsRejectedAndKeepsTheModel) {
    MahalanobisDistance classifier(2);
    classifier.Train(TwoClassLine());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Samples& bad :
         {Samples{}, Samples{{1, {1.0}}, {0, {2.0}}}, Samples{{1, {1.0}}, {3, {2.0}}},
          Samples{{1, {1.0}}, {2, {2.0, 3.0}}}, Samples{{1, {1.0}}, {2, {nan}}}}) {
        EXPECT_THROW(classifier.Train(MakeSet(bad)), std::invalid_argument);
        std::vector<double> x{6.0};
        EXPECT_EQ(classifier.Classify(x), 2);
    }
    std::vector<double> wrongLength{1.0, 2.0};
    EXPECT_EQ(ThrownMessage([&] { classifier.Classify(wrongLength); }),
              "Invalid matrix dimensions: (1, 1) != (1, 2)");
    EXPECT_THROW(MahalanobisDistance(0), std::invalid_argument);
    EXPECT_THROW(MahalanobisDistance().Train(TwoClassLine()), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
