#pragma once

// Chooses a subset of the D features of a pattern set with a small genetic algorithm. A
// chromosome is a 0/1 mask over the features; its fitness is the accuracy (a fraction in [0, 1])
// that the given classifier reaches on the test patterns after training on the training patterns,
// both reduced to the masked features. A population of 10 masks lives for 8 generations, the K
// best distinct masks seen (the elite) surviving each one; the rest is bred from the elite by
// crossover and mutation or drawn anew. Optimize returns the best mask as D integers and prints
// each generation's number on a line of standard output. A mask the classifier refuses to train
// on or to classify with (std::invalid_argument: no feature at all, or another length than the
// one it was built for) scores 0 and the search goes on; Optimize then writes one line to
// standard error with the number of refused evaluations and the first refusal. The classifier
// is not owned; it is trained again for every mask evaluated and is left trained on the last
// one, not on the best. Random draws come from the library's random source; not thread-safe.

#include <memory>
#include <string>
#include <vector>

#include "velkar/math/Matrix.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::optimization {

class Genetic {
  public:
    static constexpr int populationSize = 10;
    static constexpr int generationCount = 8;
    // Crossover writes rows K ... 2K (odd K) of a population of 10: at most 4 elite masks.
    static constexpr int maxEliteCount = 4;

    // eliteCount in 1 ... maxEliteCount and a classifier (std::invalid_argument otherwise).
    Genetic(patternrecognition::PatternRecognitionAlgorithm* algorithm, int eliteCount);
    // No classifier: Optimize refuses to run.
    Genetic() = default;

    // Needs training patterns of at least 2 features, a non-empty test list, and every pattern
    // with the feature count of the first training pattern (std::invalid_argument otherwise).
    // Writes the best mask's accuracy to *bestFitness when bestFitness is not null.
    std::shared_ptr<std::vector<int>> Optimize(
        std::shared_ptr<std::vector<std::shared_ptr<patternrecognition::Pattern>>> trainPatterns,
        std::shared_ptr<std::vector<std::shared_ptr<patternrecognition::Pattern>>> testPatterns,
        double* bestFitness);

  private:
    using PatternSet = std::shared_ptr<std::vector<std::shared_ptr<patternrecognition::Pattern>>>;

    // Writes a random non-empty mask into row `row`: the binary digits of a number r in
    // [1, D^2 - 1], least significant first, go into genes D-1, D-2, ... (so only the last genes
    // can be set); the other genes are 0.
    static void RandomChromosome(math::Matrix<double>& population, int row);
    // The accuracy of the mask in row `row`, or 0 when the classifier refuses it.
    double Fitness(const math::Matrix<double>& population, int row, const PatternSet& train,
                   const PatternSet& test);

    // The steps of Optimize. CheckOptimizeInputs answers the feature count D or throws.
    int CheckOptimizeInputs(const PatternSet& trainPatterns, const PatternSet& testPatterns) const;
    // Evaluates rows K ... of population and moves each better than an elite mask into the
    // elite rows 0 ... K-1 of next, keeping them and eliteFitness in falling order.
    void SelectElite(const math::Matrix<double>& population, const PatternSet& train,
                     const PatternSet& test, math::Matrix<double>& next,
                     std::vector<double>& eliteFitness);
    // Fills rows K ... of next: children of the elite by crossover and mutation, then new
    // random masks.
    void Breed(math::Matrix<double>& next) const;

    patternrecognition::PatternRecognitionAlgorithm* algorithm = nullptr;
    int eliteCount = 0;
    // The refused evaluations of the current run and the first refusal's message.
    int refusedCount = 0;
    std::string firstRefusal;
};

}  // namespace velkar::optimization
