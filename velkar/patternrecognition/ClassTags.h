#pragma once

// The classes of a training set numbered in order of first appearance, as the network
// classifiers number their outputs: tagged maps a class id to its output, classIds gives the
// class id of every output, and outputOf the output of every pattern of the set.

#include <map>
#include <vector>

#include "velkar/patternrecognition/Pattern.h"

namespace velkar::patternrecognition {

struct ClassTags {
    std::map<int, int> tagged;
    std::vector<int> classIds;
    std::vector<int> outputOf;
};

ClassTags TagClasses(const PatternList& patterns);

// The output of every class id of classIds (a stored model's outputs), the inverse of classIds.
std::map<int, int> OutputsOf(const std::vector<int>& classIds);

}  // namespace velkar::patternrecognition
