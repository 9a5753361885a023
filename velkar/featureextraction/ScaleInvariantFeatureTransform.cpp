#include "velkar/featureextraction/ScaleInvariantFeatureTransform.h"

#include <algorithm>
#include <stdexcept>

#include "velkar/featureextraction/SiftProcessingUnit.h"

namespace velkar::featureextraction {

ScaleInvariantFeatureTransform::ScaleInvariantFeatureTransform()
    : ScaleInvariantFeatureTransform(4, 3) {}

ScaleInvariantFeatureTransform::ScaleInvariantFeatureTransform(int octaves, int intervals)
    : octaves(octaves), intervals(intervals) {
    if (octaves < 1 || intervals < 1) {
        throw std::invalid_argument(
            "The keypoint extractor needs at least 1 octave and 1 interval, got " +
            std::to_string(octaves) + " and " + std::to_string(intervals));
    }
}

int ScaleInvariantFeatureTransform::WindowSize() const { return 0; }

int ScaleInvariantFeatureTransform::FeatureCount() const {
    return SiftProcessingUnit::kDescriptorLength;
}

ScaleInvariantFeatureTransform::DescriptorList ScaleInvariantFeatureTransform::Process(
    PolygonList& polygons) {
    return ProcessPolygons(
        polygons, [this](const math::Polygon& polygon) { return ProcessPolygon(polygon); });
}

ScaleInvariantFeatureTransform::DescriptorList ScaleInvariantFeatureTransform::ProcessPolygon(
    const math::Polygon& polygon) const {
    return Analyse(polygon).descriptors;
}

std::vector<SiftKeypoint> ScaleInvariantFeatureTransform::Keypoints(
    const math::Polygon& polygon) const {
    if (!Image()) {
        throw std::logic_error("The keypoint extractor has no image: SetImage must come first");
    }
    return Analyse(polygon).keypoints;
}

ScaleInvariantFeatureTransform::PolygonKeypoints ScaleInvariantFeatureTransform::Analyse(
    const math::Polygon& polygon) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const BoundingBox box = BoxOf(polygon);
    // Pixels outside the image hold nothing to describe; leaving them out also bounds the
    // memory by the image size however large the box is.
    const long long left = std::max(box.minX, 0LL);
    const long long top = std::max(box.minY, 0LL);
    const long long right = std::min<long long>(box.maxX, image.Width());
    const long long bottom = std::min<long long>(box.maxY, image.Height());
    if (right <= left || bottom <= top) {
        return {};
    }
    const int width = static_cast<int>(right - left);
    const int height = static_cast<int>(bottom - top);
    const int bands = image.BandCount();
    SiftProcessingUnit::Image region(width, height, bands);
    for (int j = 0; j < height; ++j) {
        const unsigned char* row = image.Row(static_cast<int>(top) + j);
        for (int i = 0; i < width; ++i) {
            const unsigned char* pixel = row + (left + i) * bands;
            for (int b = 0; b < bands; ++b) {
                region(i, j, b) = pixel[b] / 255.0;
            }
        }
    }

    SiftProcessingUnit unit(region, octaves, intervals);
    unit.GenerateOctavesAndIntervals();
    unit.FindExtrema();
    unit.CalculateMagnitudesAndOrientations();
    unit.FindKeypoints();
    unit.ExtractKeypointDescriptors();
    unit.DestroyMagnitudesAndOrientations();
    PolygonKeypoints result{unit.Descriptors(), {}};
    // Positions relative to the whole box, not to the part of it inside the image.
    const int shiftX = static_cast<int>(left - box.minX);
    const int shiftY = static_cast<int>(top - box.minY);
    for (const auto& descriptor : result.descriptors) {
        descriptor->SetClass(polygon.Class());
        descriptor->SetPolygonId(polygon.Id());
        descriptor->SetX(descriptor->X() + shiftX);
        descriptor->SetY(descriptor->Y() + shiftY);
    }
    for (const auto& keypoint : unit.DescribedKeypoints()) {
        SiftKeypoint shifted = *keypoint;
        shifted.x += shiftX;
        shifted.y += shiftY;
        result.keypoints.push_back(shifted);
    }
    return result;
}

}  // namespace velkar::featureextraction
