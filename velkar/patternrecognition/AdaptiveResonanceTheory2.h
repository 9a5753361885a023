#pragma once

// ART2 network used as a supervised classifier. An F1 field of six normalising sublayers turns
// an input of M features into the pattern U; M x N bottom-up weights let the N competing F2
// neurons bid for it, and the vigilance test rho / (eps + |R|) <= 1 accepts the winner or
// resets it, in which case the next-best neuron is tried. Every neuron is reset at most once per
// input: when all are reset the search ends without a neuron. Training makes two passes over the
// patterns in order; the accepted neuron learns U / (1 - d) at once (fast learning) and counts
// one vote for the pattern's class. Classify answers the class with most votes at the accepted
// neuron (ties and unvoted neurons give the lowest class id), or -1 when no neuron accepts the
// input; it changes no weight. The training observer counts presentations, twice the pattern
// count in all. Not thread-safe (the F1 field is internal work space).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class AdaptiveResonanceTheory2 : public PatternRecognitionAlgorithm {
  public:
    // The most bottom-up weights (and as many top-down ones) a network may have.
    static constexpr long long maxModelEntries = 10'000'000;

    // f1Size, f2Size >= 1; a, b, c finite; d in [0, 1) (learning divides by 1 - d); theta >= 0;
    // rho in [0, 1]; f1Size x f2Size at most maxModelEntries. util::InvalidParameter otherwise,
    // naming the parameter.
    AdaptiveResonanceTheory2(int f1Size, int f2Size, double a, double b, double c, double d,
                             double theta, double rho);
    // An empty network to be filled by SetConfiguration.
    AdaptiveResonanceTheory2() = default;
    AdaptiveResonanceTheory2(const AdaptiveResonanceTheory2& other) = default;
    AdaptiveResonanceTheory2& operator=(const AdaptiveResonanceTheory2& other) = default;
    ~AdaptiveResonanceTheory2() override = default;

    // Finite feature vectors of f1Size entries (std::invalid_argument otherwise). Starts from
    // the initial weights, so it replaces any earlier model.
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // features must have f1Size entries (std::invalid_argument); std::logic_error before the
    // network is trained or restored.
    int Classify(std::vector<double>& features) override;
    // Keys "layer_sizes", "layer1_weights", "layer1_modifier", "layer2_weights",
    // "layer2_modifier", "a_const", "b_const", "c_const", "d_const", "theta", "rho",
    // "tagged_classes", "neuron_class_votes". std::logic_error before training or restoring.
    std::shared_ptr<util::Collection> Configuration() override;
    // Replaces whatever the network held; a malformed tree (a key missing or of the wrong kind,
    // a non-finite number, a constant outside its range, sizes that do not fit together) is
    // rejected with std::runtime_error naming the key and leaves the network unchanged.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "art2"; }
    std::string Version() override { return "1.0"; }
    std::string Name() override { return "Adaptive Resonance Theory 2"; }
    int InputSize() override { return classIds.empty() ? -1 : f1Size; }

    // Training presentations of the last Train for which every F2 neuron was reset (they gave
    // no vote and taught nothing).
    int UnresolvedPresentations() const { return unresolvedPresentations; }

  private:
    void InitializeWeights();
    void SizeWorkSpace();
    // Runs the input twice through the F1 sublayers; leaves U (= P) in place.
    void ApplyInput(const double* input);
    // The F2 neuron that resonates with the current U, or -1 when every neuron is reset.
    int Search();
    bool Resonates(int neuron);

    int f1Size = 0;
    int f2Size = 0;
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    double d = 0.0;
    double theta = 0.0;
    double rho = 0.0;
    // Carried through the model file; only the F2 competition is ever activated, so neither
    // changes a result.
    double layer1Modifier = 1.0;
    double layer2Modifier = 0.0;
    // Both tables are stored by F2 neuron (N rows of M): row j of topDown holds the weights
    // from neuron j to every F1 unit.
    std::vector<double> topDown;
    std::vector<double> bottomUp;
    // N rows of K votes, K = number of tagged classes.
    std::vector<double> votes;
    std::map<int, int> taggedClasses;
    std::vector<int> classIds;
    int unresolvedPresentations = 0;

    std::vector<double> w, x, v, u, p, q, r;
    // The norm of U after the input was applied.
    double uNorm = 0.0;
    std::vector<double> activations;
    std::vector<char> wasReset;
    std::vector<int> candidates;
};

}  // namespace velkar::patternrecognition
