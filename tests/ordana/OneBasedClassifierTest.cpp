#include "ordana/OneBasedClassifier.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "velkar/util/Map.h"

namespace {

using velkar::ordana::OneBasedClassifier;
using velkar::patternrecognition::Pattern;
using velkar::patternrecognition::PatternRecognitionAlgorithm;
using velkar::util::Collection;
using velkar::util::Map;

// A classifier that counts classes from 1: it remembers the class of every training vector by
// its first feature and answers 0 (its "no class") for vectors it has not seen.
class OneBasedMemory : public PatternRecognitionAlgorithm {
  public:
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override {
        memory.clear();
        for (const auto& pattern : *patterns) {
            seenClasses.push_back(pattern->Class());
            seenNames.push_back(pattern->ClassName());
            seenMetadata.push_back(pattern->Metadata("polygonId"));
            memory[(*pattern->Descriptors())[0]] = pattern->Class();
            ReportTraining(static_cast<long long>(memory.size()),
                           static_cast<long long>(patterns->size()));
        }
    }
    int Classify(std::vector<double>& features) override {
        auto found = memory.find(features.at(0));
        return found == memory.end() ? 0 : found->second;
    }
    std::shared_ptr<Collection> Configuration() override {
        auto map = std::make_shared<Map>();
        map->Put("entries", new int(static_cast<int>(memory.size())));
        return map;
    }
    void SetConfiguration(std::shared_ptr<Collection> configuration) override {
        received = configuration;
    }
    std::string FileExtension() override { return "obm"; }
    std::string Version() override { return "0.9"; }
    std::string Name() override { return "One Based Memory"; }

    std::map<double, int> memory;
    std::vector<int> seenClasses;
    std::vector<std::string> seenNames;
    std::vector<std::string> seenMetadata;
    std::shared_ptr<Collection> received;
};

std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> Patterns(const std::vector<int>& classes) {
    auto patterns = std::make_shared<std::vector<std::shared_ptr<Pattern>>>();
    for (std::size_t i = 0; i < classes.size(); ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(classes[i]);
        pattern->SetClassName("class" + std::to_string(classes[i]));
        pattern->SetDescriptors({static_cast<double>(i), 1.0});
        pattern->SetMetadata({{"polygonId", std::to_string(i)}});
        patterns->push_back(pattern);
    }
    return patterns;
}

TEST(OneBasedClassifierTest, TrainingSeesClassesCountedFromOne) {
    auto wrapped = std::make_shared<OneBasedMemory>();
    OneBasedClassifier classifier(wrapped);
    auto patterns = Patterns({0, 2, 1, 0});
    classifier.Train(patterns);

    EXPECT_EQ(wrapped->seenClasses, (std::vector<int>{1, 3, 2, 1}));
    // Everything else of the patterns travels unchanged.
    EXPECT_EQ(wrapped->seenNames,
              (std::vector<std::string>{"class0", "class2", "class1", "class0"}));
    EXPECT_EQ(wrapped->seenMetadata, (std::vector<std::string>{"0", "1", "2", "3"}));
    // The caller's patterns, shared with later repetitions, keep their numbers.
    for (std::size_t i = 0; i < patterns->size(); ++i) {
        EXPECT_EQ((*patterns)[i]->Class(), (std::vector<int>{0, 2, 1, 0})[i]);
    }
    // Training twice on the same set does not shift twice.
    classifier.Train(patterns);
    EXPECT_EQ(std::vector<int>(wrapped->seenClasses.begin() + 4, wrapped->seenClasses.end()),
              (std::vector<int>{1, 3, 2, 1}));
}

TEST(OneBasedClassifierTest, TrainingObserverReachesTheWrappedClassifier) {
    auto wrapped = std::make_shared<OneBasedMemory>();
    OneBasedClassifier classifier(wrapped);
    std::vector<long long> done;
    classifier.SetTrainingObserver([&done](long long count, long long total) {
        EXPECT_EQ(total, 3);
        done.push_back(count);
    });
    classifier.Train(Patterns({0, 1, 0}));
    EXPECT_EQ(done, (std::vector<long long>{1, 2, 3}));
}

TEST(OneBasedClassifierTest, AnswersComeBackCountedFromZero) {
    auto wrapped = std::make_shared<OneBasedMemory>();
    OneBasedClassifier classifier(wrapped);
    const std::vector<int> classes = {0, 2, 1, 0, 3};
    auto patterns = Patterns(classes);
    classifier.Train(patterns);
    for (std::size_t i = 0; i < classes.size(); ++i) {
        std::vector<double> features = *(*patterns)[i]->Descriptors();
        EXPECT_EQ(classifier.Classify(features), classes[i]) << i;
    }
    // The wrapped classifier's "no class" (0) lies outside every class list.
    std::vector<double> unseen = {99.0, 1.0};
    EXPECT_EQ(classifier.Classify(unseen), -1);
}

TEST(OneBasedClassifierTest, EverythingElseIsTheWrappedClassifiers) {
    auto wrapped = std::make_shared<OneBasedMemory>();
    OneBasedClassifier classifier(wrapped);
    EXPECT_EQ(classifier.Name(), "One Based Memory");
    EXPECT_EQ(classifier.Version(), "0.9");
    EXPECT_EQ(classifier.FileExtension(), "obm");

    classifier.Train(Patterns({1, 1, 0}));
    auto configuration = std::dynamic_pointer_cast<Map>(classifier.Configuration());
    ASSERT_NE(configuration, nullptr);
    EXPECT_EQ(*configuration->GetInt("entries"), 3);

    auto given = std::make_shared<Map>();
    classifier.SetConfiguration(given);
    EXPECT_EQ(wrapped->received, given);
}

TEST(OneBasedClassifierTest, AFixedClassCountRejectsMoreClassesBeforeTraining) {
    auto wrapped = std::make_shared<OneBasedMemory>();
    OneBasedClassifier classifier(wrapped, "mdcc", 3);
    EXPECT_NO_THROW(classifier.CheckClassCount(3));
    try {
        classifier.CheckClassCount(4);
        ADD_FAILURE() << "four classes accepted";
    } catch (const std::invalid_argument& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Invalid value for option '--mdcc': 3 (there are 4 classes; it must be at "
                  "least that many).");
    }
    // Class number 3 counted from 0 is the fourth class: nothing reaches the wrapped classifier.
    EXPECT_THROW(classifier.Train(Patterns({0, 3, 1})), std::invalid_argument);
    EXPECT_TRUE(wrapped->seenClasses.empty());
    classifier.Train(Patterns({0, 2, 1}));
    EXPECT_EQ(wrapped->seenClasses, (std::vector<int>{1, 3, 2}));

    OneBasedClassifier unlimited(std::make_shared<OneBasedMemory>());
    EXPECT_NO_THROW(unlimited.CheckClassCount(1000));
}

}  // namespace
