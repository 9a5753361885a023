#pragma once

// The feature vectors of one window (or polygon, or keypoint): one inner vector per band, whose
// count and lengths the extractor fixes, labelled with the class name and id of the polygon it
// was taken from. Band and position (x, y) are set only by keypoint extractors and are 0
// otherwise. A plain value: copies are deep; not safe for concurrent writes.

#include <string>
#include <utility>
#include <vector>

namespace velkar::featureextraction {

class Descriptor {
  public:
    Descriptor() = default;
    // One band holding the values.
    explicit Descriptor(std::vector<double> values);
    // bands vectors of length zeros each; negative counts are rejected.
    Descriptor(int bands, int length);
    Descriptor(const Descriptor&) = default;
    Descriptor& operator=(const Descriptor&) = default;
    virtual ~Descriptor() = default;

    std::vector<std::vector<double>>& Features() { return features; }
    const std::vector<std::vector<double>>& Features() const { return features; }

    std::string Class() const { return className; }
    void SetClass(std::string name) { className = std::move(name); }
    int Band() const { return band; }
    void SetBand(int value) { band = value; }
    int X() const { return x; }
    void SetX(int value) { x = value; }
    int Y() const { return y; }
    void SetY(int value) { y = value; }
    int PolygonId() const { return polygonId; }
    void SetPolygonId(int value) { polygonId = value; }

  private:
    std::vector<std::vector<double>> features;
    std::string className;
    int band = 0;
    int x = 0;
    int y = 0;
    int polygonId = 0;
};

}  // namespace velkar::featureextraction
