#pragma once

// Adapts a classifier that numbers classes from 1 to the program, which numbers them from 0:
// patterns are handed to the wrapped classifier with class number + 1, and its answers are read
// back − 1. Everything else (name, extension, version, configuration) is the wrapped
// classifier's own. This is the one place where the two numberings meet. A classifier built
// for a fixed number of classes carries that number and the option that set it, so that a
// polygon file with more classes is rejected before anything trains.

#include <memory>
#include <string>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::ordana {

class OneBasedClassifier : public patternrecognition::PatternRecognitionAlgorithm {
  public:
    explicit OneBasedClassifier(
        std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> wrapped);
    // The wrapped classifier knows classCapacity classes, set by the option classCountOption.
    OneBasedClassifier(std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> wrapped,
                       std::string classCountOption, int classCapacity);

    // Throws std::invalid_argument naming the class-count option when classCount classes exceed
    // the capacity; without a capacity every count fits. Train checks its patterns this way.
    void CheckClassCount(int classCount) const;

    void Train(std::shared_ptr<std::vector<std::shared_ptr<patternrecognition::Pattern>>> patterns)
        override;
    int Classify(std::vector<double>& features) override;
    std::shared_ptr<util::Collection> Configuration() override;
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;
    std::string FileExtension() override;
    std::string Version() override;
    std::string Name() override;
    int InputSize() override;
    void SetTrainingObserver(TrainingObserver observer) override;

  private:
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> wrapped;
    std::string classCountOption;
    // 0: no fixed number of classes.
    int classCapacity = 0;
};

}  // namespace velkar::ordana
