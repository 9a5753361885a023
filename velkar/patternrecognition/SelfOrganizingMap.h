#pragma once

// Kohonen map of L x L neurons (neuron k at row k / L, column k % L) with hexagonal lattice
// distances, used as a classifier. Training repeats `iterations` steps: a pattern drawn at random
// picks its best-matching neuron (nearest weights; ties go to the lower index), which takes the
// pattern's class, and every neuron closer on the lattice than the radius
// sigma(t) = sigma0 * exp(-t / lambda) moves towards the pattern by
// eta(t) * exp(-d^2 / (2 sigma^2)), with eta(t) = eta0 * exp(-t / lambda), sigma0 = L * radius
// factor and lambda = iterations / ln(sigma0). Classify lets the best-matching neuron (weight 2)
// and its lattice neighbours (weight 1) vote for their classes; it answers -1 when none of them
// ever won a training pattern. Not thread-safe (shared random source, internal score buffer).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class SelfOrganizingMap : public PatternRecognitionAlgorithm {
  public:
    // The class of a neuron that has not won a training pattern yet.
    static constexpr int unsetClass = -1;

    // The most weights a map may have.
    static constexpr long long maxModelEntries = 10'000'000;

    // latticeSize, problemDimension >= 1, iterations >= 0, finite factors, an initial radius
    // latticeSize * radiusFactor of at least 1 (below 1 the time constant turns negative and the
    // learning rate grows without bound) and at most maxModelEntries weights;
    // util::InvalidParameter otherwise, naming the parameter. Draws the weights uniformly from
    // [-1, 1].
    SelfOrganizingMap(int latticeSize, int problemDimension, double radiusFactor,
                      double learningRateFactor, int iterations);
    // An empty map to be filled by SetConfiguration; it cannot be trained.
    SelfOrganizingMap() = default;
    SelfOrganizingMap(const SelfOrganizingMap& other) = default;
    SelfOrganizingMap& operator=(const SelfOrganizingMap& other) = default;
    ~SelfOrganizingMap() override = default;

    // Finite feature vectors of the problem dimension, no class id -1 (std::invalid_argument
    // otherwise). A second Train starts again from freshly drawn weights.
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // features must have the problem dimension (std::invalid_argument); std::logic_error before
    // the map is trained or restored.
    int Classify(std::vector<double>& features) override;
    // Keys "lattice_size", "problem_dimension", "nodes", "tagged_classes". std::logic_error
    // before the map is trained or restored.
    std::shared_ptr<util::Collection> Configuration() override;
    // Replaces the whole map; a malformed tree (a key missing or of the wrong kind, a non-finite
    // weight, sizes that do not fit together) is rejected with std::runtime_error naming the key
    // and leaves the map unchanged. A restored map cannot be trained further.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "som"; }
    std::string Version() override { return "1.0"; }
    std::string Name() override { return "Self Organizing Map"; }
    int InputSize() override { return taggedClasses.empty() ? -1 : dimension; }

    // Hexagonal lattice distance between the neurons at (row1, column1) and (row2, column2).
    static double Distance(int row1, int column1, int row2, int column2);

  private:
    static double HexCoordinatesDistance(int q1, int r1, int q2, int r2);
    void DrawWeights();
    int FindBestMatchingUnit(const double* input) const;
    double LatticeDistance(int neuron1, int neuron2) const;

    int latticeSize = 0;
    int dimension = 0;
    double initialRadius = 0.0;
    double initialLearningRate = 0.0;
    int iterations = 0;
    double timeConstant = 0.0;
    // L^2 rows of `dimension` weights, in neuron order.
    std::vector<double> weights;
    std::vector<int> neuronClasses;
    std::map<int, int> taggedClasses;
    bool trainable = false;
    // True while the weights are the untouched draws of the constructor.
    bool freshWeights = false;

    // Per-class scores of Classify, sized once per model.
    std::vector<double> scores;
};

}  // namespace velkar::patternrecognition
