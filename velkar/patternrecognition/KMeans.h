#pragma once

// Lloyd's k-means over the feature vectors of a pattern set (class ids are not read). Train
// draws k starting centers from the patterns (independent draws, so two may coincide) and runs
// the given number of assignment/update iterations; ties go to the lower cluster index, and a
// cluster that loses all its members gets a NaN center that attracts no pattern any more.
// Results: PatternMembership (one 0-based cluster index per pattern, in set order),
// PatternMembershipCount and ClusterVariance (per cluster: members, mean member distance to the
// center) and Centers. Not a classifier: Classify answers -1 and the configuration is an empty
// map. Copies share the center vectors with their source. Not thread-safe (shared random source).

#include <memory>
#include <string>
#include <vector>

#include <boost/numeric/ublas/vector.hpp>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class KMeans : public PatternRecognitionAlgorithm {
  public:
    using Vector = boost::numeric::ublas::vector<double>;

    // clusterCount >= 1 (std::invalid_argument otherwise); iterations <= 0 leaves the centers
    // at their drawn starting points.
    KMeans(int clusterCount, int iterations);
    KMeans(const KMeans& other) = default;
    KMeans& operator=(const KMeans& other) = default;
    ~KMeans() override = default;

    // A non-empty set of finite feature vectors of one length (std::invalid_argument otherwise).
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    int Classify(std::vector<double>& features) override;
    std::shared_ptr<util::Collection> Configuration() override;
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "km"; }
    std::string Version() override { return "1.0"; }
    std::string Name() override { return "KMeans"; }
    int InputSize() override { return dimension > 0 ? dimension : -1; }

    std::vector<int> PatternMembership() const { return membership; }
    std::vector<int> PatternMembershipCount() const { return membershipCount; }
    std::vector<double> ClusterVariance() const { return clusterVariance; }
    std::vector<std::shared_ptr<Vector>> Centers() const { return centers; }

  private:
    int clusterCount;
    int iterations;
    int dimension = 0;
    std::vector<std::shared_ptr<Vector>> centers;
    std::vector<int> membership;
    std::vector<int> membershipCount;
    std::vector<double> clusterVariance;
};

}  // namespace velkar::patternrecognition
