#include "velkar/patternrecognition/MahalanobisDistance.h"

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

namespace velkar::patternrecognition {
namespace {

using math::Matrix;

PatternSet MakeSet(const std::vector<std::pair<int, std::vector<double>>>& samples) {
    auto set = std::make_shared<PatternList>();
    for (const auto& [classId, features] : samples) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(classId);
        pattern->SetDescriptors(features);
        set->push_back(pattern);
    }
    return set;
}

// Class 1 at {0, 2} and class 2 at {10, 12}: mean 6, variance 26, class means 1 and 11.
PatternSet TwoClassLine(std::vector<double> extra = {}) {
    std::vector<std::pair<int, std::vector<double>>> samples;
    for (auto [classId, value] : {std::pair{1, 0.0}, {1, 2.0}, {2, 10.0}, {2, 12.0}}) {
        std::vector<double> features{value};
        features.insert(features.end(), extra.begin(), extra.end());
        samples.push_back({classId, features});
    }
    return MakeSet(samples);
}

// Mahalanobis distance computed from scratch: covariance over all vectors (divisor N), class
// means, and d^T S^-1 d through a linear solve instead of an inverse.
std::vector<double> ReferenceDistances(const PatternSet& set, int classCount,
                                       const std::vector<double>& x) {
    const std::size_t n = x.size();
    std::vector<double> mean(n, 0.0);
    for (const auto& p : *set) {
        for (std::size_t j = 0; j < n; ++j) {
            mean[j] += (*p->Descriptors())[j] / static_cast<double>(set->size());
        }
    }
    Matrix<double> covariance(static_cast<int>(n), static_cast<int>(n));
    for (const auto& p : *set) {
        for (std::size_t j = 0; j < n; ++j) {
            for (std::size_t k = 0; k < n; ++k) {
                covariance(static_cast<int>(j), static_cast<int>(k)) +=
                    ((*p->Descriptors())[j] - mean[j]) * ((*p->Descriptors())[k] - mean[k]) /
                    static_cast<double>(set->size());
            }
        }
    }
    std::vector<double> distances;
    for (int c = 1; c <= classCount; ++c) {
        std::vector<double> classMean(n, 0.0);
        int members = 0;
        for (const auto& p : *set) {
            if (p->Class() == c) {
                ++members;
                for (std::size_t j = 0; j < n; ++j) {
                    classMean[j] += (*p->Descriptors())[j];
                }
            }
        }
        Matrix<double> d(static_cast<int>(n), 1);
        for (std::size_t j = 0; j < n; ++j) {
            d(static_cast<int>(j), 0) = classMean[j] / members - x[j];
        }
        Matrix<double> solved(d);
        Matrix<double> a(covariance);
        a.Solve(solved);
        distances.push_back(std::sqrt(d.DotProduct(solved)));
    }
    return distances;
}

// Gaussian clouds: every class c has its own centre; features are correlated through a shared
// random mixing so the covariance is far from diagonal.
PatternSet CorrelatedClouds(int classCount, int perClass, int dimension, std::mt19937& engine) {
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> centre(-4.0, 4.0);
    std::vector<std::vector<double>> mixing(dimension, std::vector<double>(dimension));
    for (auto& row : mixing) {
        for (double& value : row) {
            value = noise(engine);
        }
    }
    std::vector<std::pair<int, std::vector<double>>> samples;
    for (int c = 1; c <= classCount; ++c) {
        std::vector<double> middle(dimension);
        for (double& value : middle) {
            value = centre(engine);
        }
        for (int i = 0; i < perClass; ++i) {
            std::vector<double> z(dimension);
            for (double& value : z) {
                value = noise(engine);
            }
            std::vector<double> features(middle);
            for (int j = 0; j < dimension; ++j) {
                for (int k = 0; k < dimension; ++k) {
                    features[j] += mixing[j][k] * z[k];
                }
            }
            samples.push_back({c, features});
        }
    }
    return MakeSet(samples);
}

int ArgMinLaterOnTies(const std::vector<double>& distances) {
    int best = 0;
    for (int c = 1; c < static_cast<int>(distances.size()); ++c) {
        if (distances[c] <= distances[best]) {
            best = c;
        }
    }
    return best + 1;
}

std::string ThrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<nothing thrown>";
}

TEST(MahalanobisDistance, DescribesItself) {
    MahalanobisDistance classifier(2);
    EXPECT_EQ(classifier.Name(), "Mahalanobis Distance");
    EXPECT_EQ(classifier.FileExtension(), "md");
    EXPECT_EQ(classifier.Version(), "1.0");
    EXPECT_EQ(classifier.InputSize(), -1);
    classifier.Train(TwoClassLine({3.0, 4.0}));
    EXPECT_EQ(classifier.InputSize(), 3);
    EXPECT_THROW(MahalanobisDistance(0), std::invalid_argument);
}

TEST(MahalanobisDistance, TieAtFiveOverRootTwentySixGoesToTheLaterClass) {
    MahalanobisDistance classifier(2);
    classifier.Train(TwoClassLine());
    EXPECT_DOUBLE_EQ((*classifier.InverseCovariance())(0, 0), 1.0 / 26.0);
    EXPECT_DOUBLE_EQ((*classifier.Means())(0, 0), 1.0);
    EXPECT_DOUBLE_EQ((*classifier.Means())(1, 0), 11.0);

    std::vector<double> middle{6.0};
    const std::vector<double> distances = classifier.Distances(middle);
    EXPECT_DOUBLE_EQ(distances[0], 5.0 / std::sqrt(26.0));
    EXPECT_EQ(distances[0], distances[1]);
    EXPECT_EQ(classifier.Classify(middle), 2);
    for (auto [value, expected] : {std::pair{1.0, 1}, {11.0, 2}, {5.99, 1}, {-100.0, 1}}) {
        std::vector<double> x{value};
        EXPECT_EQ(classifier.Classify(x), expected) << "at " << value;
    }
}

TEST(MahalanobisDistance, DistancesMatchAnIndependentComputation) {
    std::mt19937 engine(2024);
    std::normal_distribution<double> probe(0.0, 5.0);
    for (int trial = 0; trial < 6; ++trial) {
        const int classCount = 2 + trial % 3;
        const int dimension = 1 + trial;
        const PatternSet set = CorrelatedClouds(classCount, 12, dimension, engine);
        MahalanobisDistance classifier(classCount);
        classifier.Train(set);
        for (int i = 0; i < 20; ++i) {
            std::vector<double> x(dimension);
            for (double& value : x) {
                value = probe(engine);
            }
            const std::vector<double> expected = ReferenceDistances(set, classCount, x);
            const std::vector<double> actual = classifier.Distances(x);
            ASSERT_EQ(actual.size(), expected.size());
            for (std::size_t c = 0; c < expected.size(); ++c) {
                EXPECT_NEAR(actual[c], expected[c], 1e-9 * (1.0 + expected[c]))
                    << "trial " << trial << ", class " << c + 1;
            }
            EXPECT_EQ(classifier.Classify(x), ArgMinLaterOnTies(expected));
        }
    }
}

TEST(MahalanobisDistance, ClassesWithoutTrainingPatternsAreNeverChosen) {
    // C = 3 with class 3 empty, and C = 3 with class 1 empty (whose NaN mean came first).
    for (const auto& [missing, shift] : {std::pair{3, 0}, {1, 1}}) {
        MahalanobisDistance classifier(3);
        PatternSet set = TwoClassLine();
        for (const auto& pattern : *set) {
            pattern->SetClass(pattern->Class() + shift);
        }
        classifier.Train(set);
        std::vector<double> x{6.0};
        EXPECT_TRUE(std::isnan(classifier.Distances(x)[missing - 1]));
        for (double value : {-50.0, 1.0, 6.0, 11.0, 50.0}) {
            std::vector<double> probe{value};
            const int answer = classifier.Classify(probe);
            EXPECT_NE(answer, missing) << "at " << value;
            EXPECT_EQ(answer, (value < 6.0 ? 1 : 2) + shift) << "at " << value;
        }
    }
}

TEST(MahalanobisDistance, ConstantFeatureIsIgnored) {
    MahalanobisDistance classifier(2);
    classifier.Train(TwoClassLine({7.25}));
    const Matrix<double>& inverse = *classifier.InverseCovariance();
    EXPECT_NEAR(inverse(0, 0), 1.0 / 26.0, 1e-15);
    EXPECT_EQ(inverse(1, 1), 0.0);
    // The constant feature adds nothing, whatever value the vector has there.
    for (double constant : {7.25, 0.0, 1000.0}) {
        std::vector<double> middle{6.0, constant};
        const std::vector<double> distances = classifier.Distances(middle);
        EXPECT_NEAR(distances[0], 5.0 / std::sqrt(26.0), 1e-12);
        EXPECT_EQ(distances[0], distances[1]);
        EXPECT_EQ(classifier.Classify(middle), 2);
        std::vector<double> low{1.0, constant};
        std::vector<double> high{11.0, constant};
        EXPECT_EQ(classifier.Classify(low), 1);
        EXPECT_EQ(classifier.Classify(high), 2);
    }
}

TEST(MahalanobisDistance, ChromaticitiesSummingToOneClassifyLikeTheirIndependentPart) {
    // The colour average with its monochromatic band and normalisation: bands 0-2 are mean
    // chromaticities (summing to 1), band 3 the mean luminance. The covariance of the four is
    // singular; the distances must be those of (red, green, luminance), whose covariance is not.
    std::mt19937 engine(99);
    std::uniform_int_distribution<int> jitter(-30, 30);
    const std::vector<std::vector<int>> colours{{200, 40, 40}, {40, 180, 60}, {90, 90, 200}};
    auto window = [&](const std::vector<int>& colour) {
        double r = 0.0, g = 0.0, b = 0.0, luminance = 0.0;
        for (int pixel = 0; pixel < 9; ++pixel) {
            const double red = colour[0] + jitter(engine);
            const double green = colour[1] + jitter(engine);
            const double blue = colour[2] + jitter(engine);
            const double sum = red + green + blue;
            r += red / sum / 9.0;
            g += green / sum / 9.0;
            b += blue / sum / 9.0;
            luminance += (0.2126 * red + 0.7152 * green + 0.0722 * blue) / 9.0;
        }
        return std::vector<double>{r, g, b, luminance};
    };
    std::vector<std::pair<int, std::vector<double>>> full;
    std::vector<std::pair<int, std::vector<double>>> reduced;
    std::vector<std::vector<double>> probes;
    for (int i = 0; i < 40; ++i) {
        for (int c = 0; c < 3; ++c) {
            const std::vector<double> features = window(colours[c]);
            full.push_back({c + 1, features});
            reduced.push_back({c + 1, {features[0], features[1], features[3]}});
            probes.push_back(window(colours[(c + i) % 3]));
        }
    }
    MahalanobisDistance classifier(3);
    classifier.Train(MakeSet(full));
    const PatternSet reducedSet = MakeSet(reduced);
    int agreements = 0;
    for (std::vector<double>& probe : probes) {
        const std::vector<double> expected =
            ReferenceDistances(reducedSet, 3, {probe[0], probe[1], probe[3]});
        const std::vector<double> actual = classifier.Distances(probe);
        for (int c = 0; c < 3; ++c) {
            ASSERT_TRUE(std::isfinite(actual[c]));
            EXPECT_NEAR(actual[c], expected[c], 1e-5 * (1.0 + expected[c]));
        }
        agreements += classifier.Classify(probe) == ArgMinLaterOnTies(expected) ? 1 : 0;
    }
    EXPECT_EQ(agreements, static_cast<int>(probes.size()));
}

TEST(MahalanobisDistance, RestoredTreeClassifiesLikeTheTrainedModel) {
    std::mt19937 engine(5);
    PatternSet set = CorrelatedClouds(3, 15, 4, engine);
    // Class 4 gets no patterns: its row is stored empty and stays unchosen after restoring.
    MahalanobisDistance trained(4);
    trained.Train(set);
    const util::Json json(true);
    std::unique_ptr<util::Collection> tree(
        json.Deserialize(json.Serialize(trained.Configuration().get())));
    ASSERT_NE(tree, nullptr);
    const auto* means =
        dynamic_cast<const util::Array*>(dynamic_cast<util::Map&>(*tree).GetCollection("means"));
    ASSERT_NE(means, nullptr);
    EXPECT_EQ(means->GetCollection(3)->Size(), 0);

    MahalanobisDistance restored;
    restored.SetConfiguration(std::shared_ptr<util::Collection>(tree.release()));
    EXPECT_EQ(restored.InputSize(), 4);
    EXPECT_EQ(restored.ClassCount(), 4);
    std::normal_distribution<double> probe(0.0, 6.0);
    for (int i = 0; i < 200; ++i) {
        std::vector<double> x(4);
        for (double& value : x) {
            value = probe(engine);
        }
        const int answer = trained.Classify(x);
        EXPECT_NE(answer, 4);
        EXPECT_EQ(restored.Classify(x), answer);
    }
}

TEST(MahalanobisDistance, MalformedTreesAreRejectedByKeyAndChangeNothing) {
    MahalanobisDistance trained(2);
    trained.Train(TwoClassLine());
    using Edit = std::function<void(util::Map&)>;
    auto row = [](util::Map& tree, const std::string& key, int index) -> util::Array& {
        return dynamic_cast<util::Array&>(
            *dynamic_cast<util::Array*>(tree.GetCollection(key))->GetCollection(index));
    };
    const std::vector<std::pair<Edit, std::string>> cases = {
        {[](util::Map& t) { t.Put("class_count", new std::string("2")); }, "\"class_count\""},
        {[](util::Map& t) { t.Put("class_count", new int(0)); }, "\"class_count\""},
        {[](util::Map& t) { t.Put("class_count", new int(3)); }, "\"means\""},
        {[](util::Map& t) { t.Put("dimension", new int(2)); }, "\"means[0]\""},
        {[](util::Map& t) { t.Put("dimension", new int(0)); }, "\"dimension\""},
        {[&](util::Map& t) { row(t, "means", 1).Add(new double(1.0)); }, "\"means[1]\""},
        {[&](util::Map& t) { row(t, "means", 0).Add(new double(1.0)); }, "\"means[0]\""},
        {[&](util::Map& t) {
             dynamic_cast<util::Array*>(t.GetCollection("inverse_covariance"))
                 ->Add(new util::Array());
         },
         "\"inverse_covariance\""},
        {[&](util::Map& t) {
             auto* means = new util::Array();
             means->Add(new util::Array());
             means->Add(new util::Array());
             t.Put("means", means);
         },
         "\"means\""},
        {[&](util::Map& t) {
             auto* values = new util::Array();
             values->Add(new double(std::numeric_limits<double>::infinity()));
             auto* rows = new util::Array();
             rows->Add(values);
             t.Put("inverse_covariance", rows);
         },
         "\"inverse_covariance[0][0]\""},
        {[&](util::Map& t) {
             auto* values = new util::Array();
             values->Add(new std::string("x"));
             auto* rows = new util::Array();
             rows->Add(values);
             t.Put("inverse_covariance", rows);
         },
         "\"inverse_covariance[0][0]\""},
        {[](util::Map& t) { t.Put("means", new int(1)); }, "\"means\""},
    };
    for (const auto& [edit, key] : cases) {
        auto tree = std::dynamic_pointer_cast<util::Map>(trained.Configuration());
        edit(*tree);
        MahalanobisDistance target(2);
        target.Train(TwoClassLine({5.0}));
        const std::string message = ThrownMessage([&] { target.SetConfiguration(tree); });
        EXPECT_NE(message.find(key), std::string::npos) << message;
        EXPECT_EQ(target.InputSize(), 2) << key;
    }
    EXPECT_THROW(trained.SetConfiguration(std::make_shared<util::Array>()), std::runtime_error);
    EXPECT_THROW(trained.SetConfiguration(nullptr), std::runtime_error);
}

TEST(MahalanobisDistance, SaveWritesTheInverseCovarianceThatLoadRestores) {
    testsupport::TemporaryFolder folder;
    std::mt19937 engine(17);
    const PatternSet set = CorrelatedClouds(2, 10, 2, engine);
    MahalanobisDistance trained(2);
    trained.Train(set);
    const std::string path = (folder / "model.md").string();
    trained.Save(path);

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0], "2");

    MahalanobisDistance loaded(2);
    loaded.Load(path);
    EXPECT_EQ(loaded.InputSize(), 2);
    const Matrix<double>& original = *trained.InverseCovariance();
    const Matrix<double>& restored = *loaded.InverseCovariance();
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            EXPECT_NEAR(restored(r, c), original(r, c), 1e-5 * std::abs(original(r, c)));
        }
    }
    // The file holds no means: the loaded object cannot classify, the trained one still can
    // after loading its own file.
    std::vector<double> x{0.0, 0.0};
    EXPECT_THROW(loaded.Classify(x), std::logic_error);
    const int before = trained.Classify(x);
    trained.Load(path);
    EXPECT_EQ(trained.Classify(x), before);
}

TEST(MahalanobisDistance, MalformedMatrixFilesAreRejectedWithFileAndLine) {
    testsupport::TemporaryFolder folder;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1"},
        {"2 2\n1 0\n0 1\n", "line 1"},
        {"x\n", "line 1"},
        {"-1\n", "line 1"},
        {"2\n1 0\n", "line 3"},
        {"2\n1 0\n0 1 2\n", "line 3"},
        {"2\n1 0\n0\n", "line 3"},
        {"2\n1 0\n0 1\n5 5\n", "line 4"},
        {"1\nnan\n", "line 2"},
        {"1\n1.5x\n", "line 2"},
    };
    MahalanobisDistance classifier(2);
    classifier.Train(TwoClassLine());
    for (const auto& [text, line] : cases) {
        const std::string path = (folder / "bad.md").string();
        std::ofstream(path) << text;
        const std::string message = ThrownMessage([&] { classifier.Load(path); });
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(line), std::string::npos) << text << " -> " << message;
        EXPECT_EQ(classifier.InputSize(), 1);
    }
    EXPECT_THROW(classifier.Load((folder / "missing.md").string()), std::runtime_error);
}

TEST(MahalanobisDistance, UnusableTrainingSetsAreRejectedAndKeepTheModel) {
    MahalanobisDistance classifier(2);
    classifier.Train(TwoClassLine());
    const std::vector<PatternSet> bad = {
        std::make_shared<PatternList>(),
        MakeSet({{1, {1.0}}, {0, {2.0}}}),
        MakeSet({{1, {1.0}}, {3, {2.0}}}),
        MakeSet({{1, {1.0}}, {2, {2.0, 3.0}}}),
        MakeSet({{1, {1.0}}, {2, {std::numeric_limits<double>::quiet_NaN()}}}),
    };
    for (const PatternSet& set : bad) {
        EXPECT_THROW(classifier.Train(set), std::invalid_argument);
        std::vector<double> x{6.0};
        EXPECT_EQ(classifier.Classify(x), 2);
    }
    std::vector<double> wrongLength{1.0, 2.0};
    EXPECT_EQ(ThrownMessage([&] { classifier.Classify(wrongLength); }),
              "Invalid matrix dimensions: (1, 1) != (1, 2)");
    EXPECT_THROW(MahalanobisDistance().Train(TwoClassLine()), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
