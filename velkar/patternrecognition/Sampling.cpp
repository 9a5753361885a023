#include "velkar/patternrecognition/Sampling.h"

#include <cstddef>
#include <stdexcept>
#include <string>

#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

std::vector<PatternSet> Sampling::Split(PatternSet patterns, double fraction) {
    if (!patterns) {
        throw std::invalid_argument("Split needs a pattern set, got none");
    }
    if (!(fraction >= 0.0 && fraction <= 1.0)) {
        throw std::invalid_argument("Split fraction must lie in [0, 1], got " +
                                    std::to_string(fraction));
    }
    const std::size_t n = patterns->size();
    std::vector<bool> notDrawn(n, true);

    util::EnsureSeeded();
    auto remaining = static_cast<std::size_t>(static_cast<double>(n) * fraction);
    // An index drawn before is simply drawn again, so every pattern has the same chance.
    while (remaining > 0) {
        const std::size_t index = util::RandomIndex(n);
        if (notDrawn[index]) {
            notDrawn[index] = false;
            --remaining;
        }
    }

    auto drawn = std::make_shared<PatternList>();
    auto others = std::make_shared<PatternList>();
    for (std::size_t i = 0; i < n; ++i) {
        (notDrawn[i] ? others : drawn)->push_back((*patterns)[i]);
    }
    return {drawn, others};
}

}  // namespace velkar::patternrecognition
