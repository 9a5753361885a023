#include "velkar/patternrecognition/MinMaxNormalize.h"

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkar::patternrecognition {

namespace {

// One rule for both vector kinds: the inputs hold vectors reached through get(input).
template <typename Vector>
void ScaleValues(Vector& values, const Vector& min, const Vector& max) {
    if (values.size() != min.size() || values.size() != max.size()) {
        throw std::invalid_argument("ScaleToRange: vector of length " +
                                    std::to_string(values.size()) + " with a range of length " +
                                    std::to_string(min.size()) + "/" + std::to_string(max.size()));
    }
    for (std::size_t c = 0; c < values.size(); ++c) {
        values[c] = ScaledValue(values[c], min[c], max[c]);
    }
}

// The common length of the inputs (0 for none); unequal lengths are rejected.
template <typename Inputs, typename Get>
std::size_t CommonLength(Inputs& inputs, Get get) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (i == 0) {
            length = get(inputs[i]).size();
        } else if (get(inputs[i]).size() != length) {
            throw std::invalid_argument("MinMaxNormalize: input vector " + std::to_string(i) +
                                        " has length " + std::to_string(get(inputs[i]).size()) +
                                        ", the first has length " + std::to_string(length));
        }
    }
    return length;
}

// min and max arrive with the inputs' length, filled with the largest double and the smallest
// positive normal double. A component whose values are all equal gets max = min: left at the
// tiny starting maximum, a constant 0 would scale any later value v to v / 2.2e-308 = inf.
template <typename Vector, typename Inputs, typename Get>
void Normalise(Inputs& inputs, Get get, Vector& min, Vector& max) {
    if (inputs.empty()) {
        return;
    }
    const Vector& first = get(inputs.front());
    std::vector<bool> varies(min.size(), false);
    for (auto& input : inputs) {
        const Vector& values = get(input);
        for (std::size_t c = 0; c < min.size(); ++c) {
            if (values[c] < min[c]) {
                min[c] = values[c];
            }
            if (values[c] > max[c]) {
                max[c] = values[c];
            }
            if (values[c] != first[c]) {
                varies[c] = true;
            }
        }
    }
    for (std::size_t c = 0; c < min.size(); ++c) {
        if (!varies[c]) {
            max[c] = min[c];
        }
    }
    for (auto& input : inputs) {
        ScaleValues(get(input), min, max);
    }
}

constexpr double kMinimumStart = std::numeric_limits<double>::max();
constexpr double kMaximumStart = std::numeric_limits<double>::min();

}  // namespace

MinMaxRange MinMaxNormalize(const std::vector<std::shared_ptr<RealVector>>& inputs) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i]) {
            throw std::invalid_argument("MinMaxNormalize: input vector " + std::to_string(i) +
                                        " is missing");
        }
    }
    auto get = [](const std::shared_ptr<RealVector>& input) -> RealVector& { return *input; };
    const std::size_t length = CommonLength(inputs, get);
    MinMaxRange range{std::make_shared<RealVector>(length, kMinimumStart),
                      std::make_shared<RealVector>(length, kMaximumStart)};
    Normalise(inputs, get, *range.min, *range.max);
    return range;
}

void ScaleToRange(RealVector& values, const RealVector& min, const RealVector& max) {
    ScaleValues(values, min, max);
}

void MinMaxNormalize(std::vector<std::vector<double>>& inputs, std::vector<double>& min,
                     std::vector<double>& max) {
    auto get = [](std::vector<double>& input) -> std::vector<double>& { return input; };
    const std::size_t length = CommonLength(inputs, get);
    min.assign(length, kMinimumStart);
    max.assign(length, kMaximumStart);
    Normalise(inputs, get, min, max);
}

void ScaleToRange(std::vector<double>& values, const std::vector<double>& min,
                  const std::vector<double>& max) {
    ScaleValues(values, min, max);
}

}  // namespace velkar::patternrecognition
