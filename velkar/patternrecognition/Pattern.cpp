#include "velkar/patternrecognition/Pattern.h"

#include <utility>

namespace velkar::patternrecognition {

void Pattern::SetClassName(std::string name) { className = std::move(name); }

void Pattern::SetDescriptors(std::vector<double> values) { descriptors = std::move(values); }

std::string Pattern::Metadata(const std::string& key) const {
    auto position = metadata.find(key);
    return position == metadata.end() ? std::string() : position->second;
}

void Pattern::AddMetadata(const std::string& key, std::string value) {
    metadata[key] = std::move(value);
}

void Pattern::SetMetadata(std::map<std::string, std::string> values) {
    metadata = std::move(values);
}

}  // namespace velkar::patternrecognition
