#include "velkar/patternrecognition/ClassTags.h"

namespace velkar::patternrecognition {

ClassTags TagClasses(const PatternList& patterns) {
    ClassTags tags;
    tags.outputOf.reserve(patterns.size());
    for (const auto& pattern : patterns) {
        const int id = pattern->Class();
        const auto [entry, added] = tags.tagged.emplace(id, static_cast<int>(tags.classIds.size()));
        if (added) {
            tags.classIds.push_back(id);
        }
        tags.outputOf.push_back(entry->second);
    }
    return tags;
}

std::map<int, int> OutputsOf(const std::vector<int>& classIds) {
    std::map<int, int> outputs;
    for (std::size_t output = 0; output < classIds.size(); ++output) {
        outputs.emplace(classIds[output], static_cast<int>(output));
    }
    return outputs;
}

}  // namespace velkar::patternrecognition
