#include "velkar/patternrecognition/TrainingSetCheck.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace velkar::patternrecognition {

int CheckTrainingSet(const PatternSet& patterns, const std::string& owner, int expectedLength) {
    if (!patterns || patterns->empty()) {
        throw std::invalid_argument(owner + ": training needs at least one pattern");
    }
    const std::vector<double>* first = (*patterns)[0] ? (*patterns)[0]->Descriptors() : nullptr;
    const std::size_t length = expectedLength >= 0
                                   ? static_cast<std::size_t>(expectedLength)
                                   : (first != nullptr ? first->size() : std::size_t{0});
    if (length == 0) {
        throw std::invalid_argument(owner + ": training needs at least one feature per pattern");
    }
    for (std::size_t i = 0; i < patterns->size(); ++i) {
        const auto& pattern = (*patterns)[i];
        const std::string which = owner + ": pattern " + std::to_string(i);
        if (!pattern) {
            throw std::invalid_argument(which + " is missing");
        }
        const std::vector<double>& features = *pattern->Descriptors();
        if (features.size() != length) {
            throw std::invalid_argument(which + " has " + std::to_string(features.size()) +
                                        " features, expected " + std::to_string(length));
        }
        for (std::size_t f = 0; f < length; ++f) {
            if (!std::isfinite(features[f])) {
                throw std::invalid_argument(which + " has a non-finite feature " +
                                            std::to_string(f));
            }
        }
    }
    return static_cast<int>(length);
}

}  // namespace velkar::patternrecognition
