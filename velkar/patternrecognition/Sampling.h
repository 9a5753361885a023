#pragma once

// Random division of a pattern set into two sets, as used for train/test repetitions.
// Split returns exactly two new sets: element 0 holds floor(n * fraction) patterns drawn at
// random, element 1 all the others; both keep the input order and share (never copy) the
// patterns, and the input set is not changed. Draws come from the library's random source
// (velkar/util/Random.h), so util::Seed makes a split reproducible. Not thread-safe.

#include <memory>
#include <vector>

#include "velkar/patternrecognition/Pattern.h"

namespace velkar::patternrecognition {

class Sampling {
  public:
    // fraction must lie in [0, 1] and patterns must not be null (std::invalid_argument).
    static std::vector<std::shared_ptr<std::vector<std::shared_ptr<Pattern>>>> Split(
        std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns, double fraction);
};

}  // namespace velkar::patternrecognition
