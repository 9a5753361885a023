#pragma once

// Abstract classifier: Train builds a model from a pattern set (replacing any earlier one),
// Classify answers a class id for a feature vector of the training length (or -1 where a
// classifier chooses no class), and Configuration / SetConfiguration store and restore the
// trained model as a configuration tree (a util::Map, or null for classifiers that keep none).
// Classifiers change internal state even while classifying: an object is used by one thread.
// An iterative classifier reports how far its training is to the training observer, when one is
// set: (iterations done, iterations asked for) after every iteration, done never decreasing; a
// training that stops early on its error goal ends below the total. The observer only watches:
// the model comes out the same with or without it. Copies share the observer.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velkar/patternrecognition/Pattern.h"
#include "velkar/util/Collection.h"

namespace velkar::patternrecognition {

class PatternRecognitionAlgorithm {
  public:
    using TrainingObserver = std::function<void(long long done, long long total)>;

    virtual ~PatternRecognitionAlgorithm() = default;

    virtual void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) = 0;
    virtual int Classify(std::vector<double>& features) = 0;
    virtual std::shared_ptr<util::Collection> Configuration() = 0;
    virtual void SetConfiguration(std::shared_ptr<util::Collection> configuration) = 0;

    virtual std::string FileExtension();
    virtual std::string Version();
    virtual std::string Name();
    // The length of the feature vectors a trained or restored classifier expects; -1 while it
    // holds no model.
    virtual int InputSize();

    // An empty function stops the reports. A classifier that wraps another hands it on.
    virtual void SetTrainingObserver(TrainingObserver observer) {
        trainingObserver = std::move(observer);
    }

  protected:
    PatternRecognitionAlgorithm() = default;
    PatternRecognitionAlgorithm(const PatternRecognitionAlgorithm&) = default;
    PatternRecognitionAlgorithm& operator=(const PatternRecognitionAlgorithm&) = default;

    // Called by the training loops; costs a test of an empty function when nobody watches.
    void ReportTraining(long long done, long long total) const {
        if (trainingObserver) {
            trainingObserver(done, total);
        }
    }

  private:
    TrainingObserver trainingObserver;
};

}  // namespace velkar::patternrecognition
