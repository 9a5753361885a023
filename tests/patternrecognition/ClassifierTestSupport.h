#pragma once

// Helpers shared by the classifier tests: pattern sets from (class, features) pairs, the message
// of an expected exception, a configuration tree sent through JSON text and back, and a file
// written from a string.

#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velkar/patternrecognition/Pattern.h"
#include "velkar/util/Json.h"

namespace classifiertest {

using Samples = std::vector<std::pair<int, std::vector<double>>>;

inline velkar::patternrecognition::PatternSet MakeSet(const Samples& samples) {
    auto set = std::make_shared<velkar::patternrecognition::PatternList>();
    for (const auto& [classId, features] : samples) {
        auto pattern = std::make_shared<velkar::patternrecognition::Pattern>();
        pattern->SetClass(classId);
        pattern->SetDescriptors(features);
        set->push_back(pattern);
    }
    return set;
}

inline std::string ThrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<nothing thrown>";
}

// What a model file would give back: the tree written as pretty JSON and read again.
inline std::shared_ptr<velkar::util::Collection> ThroughJson(
    const std::shared_ptr<velkar::util::Collection>& tree) {
    const velkar::util::Json json(true);
    return std::shared_ptr<velkar::util::Collection>(json.Deserialize(json.Serialize(tree.get())));
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace classifiertest
