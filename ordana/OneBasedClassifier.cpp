#include "ordana/OneBasedClassifier.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ordana/OptionDescription.h"
#include "velkar/patternrecognition/Pattern.h"

namespace velkar::ordana {

using patternrecognition::Pattern;

OneBasedClassifier::OneBasedClassifier(
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> classifier)
    : wrapped(std::move(classifier)) {}

OneBasedClassifier::OneBasedClassifier(
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> classifier, std::string option,
    int capacity)
    : wrapped(std::move(classifier)),
      classCountOption(std::move(option)),
      classCapacity(capacity) {}

void OneBasedClassifier::CheckClassCount(int classCount) const {
    if (classCapacity > 0 && classCount > classCapacity) {
        throw std::invalid_argument(RejectionMessage(
            {classCountOption}, {std::to_string(classCapacity)},
            "there are " + std::to_string(classCount) + " classes; it must be at least that many"));
    }
}

void OneBasedClassifier::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    int classCount = 0;
    for (const auto& pattern : *patterns) {
        classCount = std::max(classCount, pattern->Class() + 1);
    }
    CheckClassCount(classCount);
    // The caller's patterns are shared with other repetitions, so the shifted numbers go on copies.
    auto shifted = std::make_shared<std::vector<std::shared_ptr<Pattern>>>();
    shifted->reserve(patterns->size());
    for (const auto& pattern : *patterns) {
        auto copy = std::make_shared<Pattern>(*pattern);
        copy->SetClass(pattern->Class() + 1);
        shifted->push_back(copy);
    }
    wrapped->Train(shifted);
}

int OneBasedClassifier::Classify(std::vector<double>& features) {
    return wrapped->Classify(features) - 1;
}

std::shared_ptr<util::Collection> OneBasedClassifier::Configuration() {
    return wrapped->Configuration();
}

void OneBasedClassifier::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    wrapped->SetConfiguration(configuration);
}

std::string OneBasedClassifier::FileExtension() { return wrapped->FileExtension(); }
std::string OneBasedClassifier::Version() { return wrapped->Version(); }
int OneBasedClassifier::InputSize() { return wrapped->InputSize(); }

std::string OneBasedClassifier::Name() { return wrapped->Name(); }

void OneBasedClassifier::SetTrainingObserver(TrainingObserver observer) {
    wrapped->SetTrainingObserver(std::move(observer));
}

}  // namespace velkar::ordana
