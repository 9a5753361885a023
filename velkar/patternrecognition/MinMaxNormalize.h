#pragma once

// Per-component min-max scaling of training vectors, shared by the neural-network classifiers.
// MinMaxNormalize scans equal-length vectors for each component's minimum and maximum, rewrites
// every vector in place as (x - min) / (max - min) and returns both statistics. The maximum
// starts at the smallest positive normal double (not the most negative one), so a component
// whose values differ but are all <= 0 keeps that tiny positive maximum. A component whose
// values are all equal is constant: its maximum is set to its minimum, and a component whose
// maximum equals its minimum scales to 0, in training and through the stored range alike.
// ScaleToRange applies a stored range to one vector the same way; values outside the range are
// not clipped.

#include <memory>
#include <vector>

#include <boost/numeric/ublas/vector.hpp>

namespace velkar::patternrecognition {

using RealVector = boost::numeric::ublas::vector<double>;

struct MinMaxRange {
    std::shared_ptr<RealVector> min;
    std::shared_ptr<RealVector> max;
};

// All inputs must be non-null and of one length (std::invalid_argument otherwise). An empty list
// gives a range of length 0.
MinMaxRange MinMaxNormalize(const std::vector<std::shared_ptr<RealVector>>& inputs);

// values, min and max must have one length (std::invalid_argument naming the lengths otherwise).
void ScaleToRange(RealVector& values, const RealVector& min, const RealVector& max);
// One value scaled as ScaleToRange scales it: (value - min) / (max - min), 0 where max = min.
inline double ScaledValue(double value, double min, double max) {
    const double span = max - min;
    // A constant component carries no information; 0/0 would turn every output into NaN.
    return span == 0.0 ? 0.0 : (value - min) / span;
}

// The same on plain vectors: inputs are rewritten in place, min and max receive the range.
void MinMaxNormalize(std::vector<std::vector<double>>& inputs, std::vector<double>& min,
                     std::vector<double>& max);
void ScaleToRange(std::vector<double>& values, const std::vector<double>& min,
                  const std::vector<double>& max);

}  // namespace velkar::patternrecognition
