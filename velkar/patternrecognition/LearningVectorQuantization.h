#pragma once

// LVQ1 classifier. H prototype neurons (rows of an H x D weight matrix) form consecutive blocks of
// H / O neurons, one block per class: neuron k stands for class k / (H / O) + 1, so classes are
// numbered 1 ... O; when O does not divide H, the H mod O neurons after the last full block form
// further blocks numbered from O + 1. Training starts from random weights in [0, 1], visits the
// patterns in a fresh random order every epoch and moves the nearest neuron (Euclidean, ties to
// the lower index) towards a pattern of its class or away from a pattern of another class, with a
// rate falling linearly from alpha; the last epoch only finds winners. Not thread-safe (training
// draws from the library's random source).

#include <memory>
#include <string>
#include <vector>

#include "velkar/math/Matrix.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class LearningVectorQuantization : public PatternRecognitionAlgorithm {
  public:
    // The largest weight matrix, in entries.
    static constexpr long long maxModelEntries = 10'000'000;

    // 1 <= outputCount <= hiddenCount, iterations >= 1 and a finite alpha
    // (std::invalid_argument otherwise).
    LearningVectorQuantization(int hiddenCount, int outputCount, int iterations, double alpha);
    // No weights: Load or SetConfiguration give it a model; it cannot be trained.
    LearningVectorQuantization() = default;

    // Needs a non-empty set of finite feature vectors of one length and at most maxModelEntries
    // weights (std::invalid_argument otherwise, the model unchanged). Every Train starts again
    // from new random weights and the constructor's alpha. Class ids outside 1 ... O are
    // accepted: such a pattern pushes every winner away.
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // The class of the nearest neuron. features must have the trained length
    // (std::invalid_argument otherwise).
    int Classify(std::vector<double>& features) override;
    // Keys "hidden_count", "output_count", "dimension" and "weights" (H rows of D reals).
    // std::logic_error without a model.
    std::shared_ptr<util::Collection> Configuration() override;
    // Validates the whole tree before replacing anything; std::runtime_error names the bad key.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "lvq"; }
    std::string Version() override { return "1.0"; }
    std::string Name() override { return "Learning Vector Quantization"; }
    int InputSize() override { return dimension; }

    // The prototype file: "H D O" on the first line, then one line of D weights per neuron.
    // Save needs a model; both throw std::runtime_error for files they cannot write or read
    // (see MatrixFile).
    void Save(const std::string& path);
    void Load(const std::string& path);

    std::shared_ptr<const math::Matrix<double>> Weights() const { return weights; }
    // The class that neuron stands for.
    int NeuronClass(int neuron) const { return neuron / neuronsPerClass + 1; }

  private:
    // One pass over the patterns in a random order; with adjust, each pattern's nearest neuron
    // moves alpha of the way towards it when their classes agree and away from it otherwise.
    void RunEpoch(math::Matrix<double>& prototypes, const std::vector<const double*>& data,
                  const std::vector<int>& classes, double alpha, bool adjust) const;

    int hiddenCount = 0;
    int outputCount = 0;
    int neuronsPerClass = 1;
    int dimension = -1;
    double initialAlpha = 0.0;
    int iterations = 0;
    std::shared_ptr<math::Matrix<double>> weights;
    bool trainable = false;
};

}  // namespace velkar::patternrecognition
