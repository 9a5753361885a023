#include "velkar/featureextraction/Descriptor.h"

#include <stdexcept>
#include <utility>

namespace velkar::featureextraction {

Descriptor::Descriptor(std::vector<double> values) { features.push_back(std::move(values)); }

Descriptor::Descriptor(int bands, int length) {
    if (bands < 0 || length < 0) {
        throw std::invalid_argument("descriptor needs non-negative band count and length, got " +
                                    std::to_string(bands) + " bands of length " +
                                    std::to_string(length));
    }
    // Built in place: copying one prototype band would allocate it once more.
    features.reserve(static_cast<std::size_t>(bands));
    for (int band = 0; band < bands; ++band) {
        features.emplace_back(static_cast<std::size_t>(length), 0.0);
    }
}

}  // namespace velkar::featureextraction
