#pragma once

// One labelled sample for the classifiers: an integer class id, the human class name, a feature
// vector and free string annotations (for instance the polygon it came from). A plain value:
// copies are deep. A new pattern has class id 0, an empty name, vector and metadata; producers
// always set the class id. Pattern sets are shared lists of shared patterns (PatternSet): splitting
// a set or training on it shares the patterns, never copies them.

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velkar::patternrecognition {

class Pattern {
  public:
    Pattern() = default;
    Pattern(const Pattern& other) = default;
    Pattern& operator=(const Pattern& other) = default;
    ~Pattern() = default;

    int Class() const { return classId; }
    void SetClass(int value) { classId = value; }

    std::string ClassName() const { return className; }
    void SetClassName(std::string name);

    // The pattern's own feature vector; callers may change it in place.
    std::vector<double>* Descriptors() { return &descriptors; }
    void SetDescriptors(std::vector<double> values);

    // The value stored under key, or "" when the key is absent (nothing is inserted).
    std::string Metadata(const std::string& key) const;
    // Stores value under key, replacing an earlier value of that key.
    void AddMetadata(const std::string& key, std::string value);
    std::map<std::string, std::string>* Metadata() { return &metadata; }
    void SetMetadata(std::map<std::string, std::string> values);

  private:
    int classId = 0;
    std::string className;
    std::vector<double> descriptors;
    std::map<std::string, std::string> metadata;
};

using PatternList = std::vector<std::shared_ptr<Pattern>>;
using PatternSet = std::shared_ptr<PatternList>;

}  // namespace velkar::patternrecognition
