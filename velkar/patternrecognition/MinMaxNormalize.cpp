#include "velkar/patternrecognition/MinMaxNormalize.h"

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>

namespace velkar::patternrecognition {

MinMaxRange MinMaxNormalize(const std::vector<std::shared_ptr<RealVector>>& inputs) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i]) {
            throw std::invalid_argument("MinMaxNormalize: input vector " + std::to_string(i) +
                                        " is missing");
        }
        if (i == 0) {
            length = inputs[i]->size();
        } else if (inputs[i]->size() != length) {
            throw std::invalid_argument("MinMaxNormalize: input vector " + std::to_string(i) +
                                        " has length " + std::to_string(inputs[i]->size()) +
                                        ", the first has length " + std::to_string(length));
        }
    }

    MinMaxRange range{std::make_shared<RealVector>(length, std::numeric_limits<double>::max()),
                      std::make_shared<RealVector>(length, std::numeric_limits<double>::min())};
    RealVector& min = *range.min;
    RealVector& max = *range.max;
    for (const auto& input : inputs) {
        for (std::size_t c = 0; c < length; ++c) {
            const double value = (*input)(c);
            if (value < min(c)) {
                min(c) = value;
            }
            if (value > max(c)) {
                max(c) = value;
            }
        }
    }
    for (const auto& input : inputs) {
        ScaleToRange(*input, min, max);
    }
    return range;
}

void ScaleToRange(RealVector& values, const RealVector& min, const RealVector& max) {
    if (values.size() != min.size() || values.size() != max.size()) {
        throw std::invalid_argument("ScaleToRange: vector of length " +
                                    std::to_string(values.size()) + " with a range of length " +
                                    std::to_string(min.size()) + "/" + std::to_string(max.size()));
    }
    for (std::size_t c = 0; c < values.size(); ++c) {
        const double span = max(c) - min(c);
        // A constant component carries no information; 0/0 would turn every output into NaN.
        values(c) = span == 0.0 ? 0.0 : (values(c) - min(c)) / span;
    }
}

}  // namespace velkar::patternrecognition
