#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

// Start values of the bounding box, kept as they are so that window grids stay where they
// have always been (maxima start at 0, not at the lowest vertex).
constexpr long long kBoxMinimumStart = 100000000;
constexpr long long kBoxMaximumStart = 0;

// Windows the default grid path turns into polygons at once.
constexpr std::size_t kGridSlice = 65536;

// The first grid origin start, start + step, ... that is not negative.
long long FirstNonNegativeOrigin(long long start, long long step) {
    if (start >= 0) {
        return start;
    }
    return start + (-start + step - 1) / step * step;
}

}  // namespace

void FeatureExtractionAlgorithm::SetImage(
    std::shared_ptr<imageprocessing::ImageFileSystem> newImage) {
    std::shared_ptr<const imageprocessing::AbsentPixels> absent;
    if (newImage) {
        CheckBandCount(newImage->BandCount());
        if (newImage->HasMask()) {
            auto table = std::make_shared<imageprocessing::AbsentPixels>(*newImage);
            if (table->Any()) {
                absent = std::move(table);
            }
        }
    }
    image = std::move(newImage);
    absentPixels = std::move(absent);
}

std::map<int, long long> FeatureExtractionAlgorithm::TakeLeftOutWindows() {
    std::lock_guard<std::mutex> guard(leftOut->lock);
    return std::exchange(leftOut->byPolygon, {});
}

bool FeatureExtractionAlgorithm::HasAbsentPixel(long long x, long long y, long long width,
                                                long long height) const {
    return absentPixels && absentPixels->Count(x, y, width, height) > 0;
}

void FeatureExtractionAlgorithm::LeaveOutAbsentWindows(const WindowGrid& grid, std::size_t first,
                                                       std::size_t count, double* features) const {
    if (!absentPixels) {
        return;
    }
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    const int w = grid.WindowSize();
    for (std::size_t n = 0; n < count; ++n) {
        if (HasAbsentPixel(grid.X(first + n), grid.Y(first + n), w, w)) {
            std::fill(features + n * length, features + (n + 1) * length,
                      std::numeric_limits<double>::quiet_NaN());
        }
    }
}

void FeatureExtractionAlgorithm::CountLeftOut(const math::Polygon& polygon,
                                              long long windows) const {
    if (windows > 0) {
        std::lock_guard<std::mutex> guard(leftOut->lock);
        leftOut->byPolygon[polygon.Id()] += windows;
    }
}

int FeatureExtractionAlgorithm::ImageBandCount() const { return image ? image->BandCount() : 3; }

void FeatureExtractionAlgorithm::CheckBandCount(int) const {}

std::string FeatureExtractionAlgorithm::FileExtension() const { return "txt"; }

std::string FeatureExtractionAlgorithm::Version() const { return "1.0"; }

std::string FeatureExtractionAlgorithm::Name() const { return "Feature Extraction Algorithm"; }

int FeatureExtractionAlgorithm::ClassificationWindowSize(const PolygonList&) const {
    return WindowSize();
}

FeatureExtractionAlgorithm::BoundingBox FeatureExtractionAlgorithm::BoxOf(
    const math::Polygon& polygon) {
    BoundingBox box{kBoxMinimumStart, kBoxMinimumStart, kBoxMaximumStart, kBoxMaximumStart};
    for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
        box.minX = std::min<long long>(box.minX, vertex->x());
        box.minY = std::min<long long>(box.minY, vertex->y());
        box.maxX = std::max<long long>(box.maxX, vertex->x());
        box.maxY = std::max<long long>(box.maxY, vertex->y());
    }
    return box;
}

void FeatureExtractionAlgorithm::CheckPolygons(const PolygonList& polygons) const {
    if (!image) {
        throw std::logic_error(Name() + " has no image: SetImage must be called before Process");
    }
    for (std::size_t index = 0; index < polygons.size(); ++index) {
        if (!polygons[index]) {
            throw std::invalid_argument("polygon list holds an empty pointer at position " +
                                        std::to_string(index));
        }
    }
}

FeatureExtractionAlgorithm::DescriptorList FeatureExtractionAlgorithm::ProcessPolygons(
    const PolygonList& polygons, const PolygonTask& processPolygon) const {
    CheckPolygons(polygons);

    // Every polygon writes its own slot; the slots are joined in input order after the loop,
    // so the result is the same whatever the number of threads and needs no lock.
    std::vector<DescriptorList> slots(polygons.size());
    util::ParallelFor(polygons.size(),
                      [&](std::size_t index) { slots[index] = processPolygon(*polygons[index]); });
    std::size_t total = 0;
    for (const DescriptorList& slot : slots) {
        total += slot.size();
    }
    DescriptorList result;
    result.reserve(total);
    for (DescriptorList& slot : slots) {
        result.insert(result.end(), std::make_move_iterator(slot.begin()),
                      std::make_move_iterator(slot.end()));
    }
    return result;
}

void FeatureExtractionAlgorithm::ForEachWindow(const math::Polygon& polygon, int windowSize,
                                               const WindowVisitor& visit) const {
    LayWindows(polygon, windowSize, windowSize, visit);
}

void FeatureExtractionAlgorithm::ForEachCoveredWindow(const math::Polygon& polygon, int windowSize,
                                                      const WindowVisitor& visit) const {
    LayWindows(polygon, windowSize, windowSize - 1, visit);
}

std::size_t FeatureExtractionAlgorithm::CountWindows(const math::Polygon& polygon, int windowSize,
                                                     bool coveredCorners) const {
    std::size_t count = 0;
    LayWindows(
        polygon, windowSize, coveredCorners ? windowSize - 1 : windowSize,
        [&count](int, int) { ++count; }, false);
    return count;
}

void FeatureExtractionAlgorithm::LayWindows(const math::Polygon& polygon, int windowSize,
                                            int cornerReach, const WindowVisitor& visit,
                                            bool countLeftOut) const {
    if (windowSize < 1) {
        throw std::invalid_argument("window size must be at least 1, got " +
                                    std::to_string(windowSize));
    }
    const auto [minX, minY, maxX, maxY] = BoxOf(polygon);
    long long leftOutWindows = 0;
    // A window whose corners lie in the polygon may still cover a hole that lies between them.
    const bool holed = !polygon.Holes().empty();
    const auto visitPresent = [&](int x, int y) {
        if (holed && polygon.HoleOverlaps(x, y, x + cornerReach, y + cornerReach)) {
            return;
        }
        if (HasAbsentPixel(x, y, windowSize, windowSize)) {
            ++leftOutWindows;
        } else {
            visit(x, y);
        }
    };

    // Windows reaching past the image are never taken, so the loops skip the grid origins
    // left of or above it and stop where a window would cross its far edges. This keeps the
    // grid where the box puts it, never reads outside the bitmap, and bounds the work by the
    // image size however large the polygon's coordinates are. 64-bit arithmetic keeps x + w
    // from overflowing.
    const long long step = windowSize;
    const long long width = image ? image->Width() : 0;
    const long long height = image ? image->Height() : 0;
    std::vector<int> tops;
    for (long long y = FirstNonNegativeOrigin(minY, step); y < maxY && y + step <= height;
         y += step) {
        tops.push_back(static_cast<int>(y));
    }
    if (tops.empty()) {
        return;
    }
    const std::size_t rows = tops.size();
    const long long firstX = FirstNonNegativeOrigin(minX, step);

    if (cornerReach != windowSize) {
        for (long long x = firstX; x < maxX && x + step <= width; x += step) {
            const int left = static_cast<int>(x);
            const int right = left + cornerReach;
            for (const int top : tops) {
                const int bottom = top + cornerReach;
                if (polygon.Contains(left, top) && polygon.Contains(right, top) &&
                    polygon.Contains(right, bottom) && polygon.Contains(left, bottom)) {
                    visitPresent(left, top);
                }
            }
        }
        if (countLeftOut) {
            CountLeftOut(polygon, leftOutWindows);
        }
        return;
    }

    // The corners then lie on the grid itself and every corner is shared by up to four
    // windows, so each grid point is tested once: the lines x and x + w at a time, the right
    // line becoming the next window's left one. Row k of a line is the point at tops[k]; row
    // `rows` is one step below the last origin.
    std::vector<char> leftLine(rows + 1);
    std::vector<char> rightLine(rows + 1);
    const auto testLine = [&](int lineX, std::vector<char>& line) {
        for (std::size_t k = 0; k < rows; ++k) {
            line[k] = polygon.Contains(lineX, tops[k]) ? 1 : 0;
        }
        line[rows] = polygon.Contains(lineX, tops[rows - 1] + windowSize) ? 1 : 0;
    };
    bool leftTested = false;
    for (long long x = firstX; x < maxX && x + step <= width; x += step) {
        const int left = static_cast<int>(x);
        if (!leftTested) {
            testLine(left, leftLine);
            leftTested = true;
        }
        testLine(left + windowSize, rightLine);
        for (std::size_t k = 0; k < rows; ++k) {
            if (leftLine[k] && rightLine[k] && rightLine[k + 1] && leftLine[k + 1]) {
                visitPresent(left, tops[k]);
            }
        }
        std::swap(leftLine, rightLine);
    }
    if (countLeftOut) {
        CountLeftOut(polygon, leftOutWindows);
    }
}

void FeatureExtractionAlgorithm::DescribeGrid(const WindowGrid& grid, std::size_t first,
                                              std::size_t count, std::vector<double>& features) {
    if (!image) {
        throw std::logic_error(Name() +
                               " has no image: SetImage must be called before DescribeGrid");
    }
    if (grid.Width() > image->Width() || grid.Height() > image->Height()) {
        throw std::invalid_argument(
            "a window grid over " + std::to_string(grid.Width()) + " x " +
            std::to_string(grid.Height()) + " pixels does not fit the image of " +
            std::to_string(image->Width()) + " x " + std::to_string(image->Height()) + " pixels");
    }
    if (first > grid.Count() || count > grid.Count() - first) {
        throw std::out_of_range("windows " + std::to_string(first) + " to " +
                                std::to_string(first) + " + " + std::to_string(count) +
                                " - 1 reach past the grid's " + std::to_string(grid.Count()) +
                                " windows");
    }
    features.resize(count * static_cast<std::size_t>(FeatureCount()));
    if (count > 0) {
        DescribeGridWindows(grid, first, count, features.data());
        LeaveOutAbsentWindows(grid, first, count, features.data());
    }
}

void FeatureExtractionAlgorithm::DescribeGridWindows(const WindowGrid& grid, std::size_t first,
                                                     std::size_t count, double* features) {
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    std::fill(features, features + count * length, std::numeric_limits<double>::quiet_NaN());
    // Polygons and descriptors are per-window heap objects, so they are made a slice at a time.
    for (std::size_t start = 0; start < count; start += kGridSlice) {
        const std::size_t slice = std::min(kGridSlice, count - start);
        const int w = grid.WindowSize();
        PolygonList polygons;
        polygons.reserve(slice);
        for (std::size_t n = 0; n < slice; ++n) {
            const int x = grid.X(first + start + n);
            const int y = grid.Y(first + start + n);
            const math::Polygon::Point corners[] = {{x, y}, {x, y + w}, {x + w, y + w}, {x + w, y}};
            auto polygon = std::make_shared<math::Polygon>();
            polygon->SetPoints(corners, 4);
            // The id finds the window again. Descriptors of one polygon come in creation
            // order, so a window's last descriptor is the one that stays.
            polygon->SetId(static_cast<int>(n));
            polygons.push_back(std::move(polygon));
        }
        for (const auto& descriptor : Process(polygons)) {
            const auto& bands = descriptor->Features();
            std::size_t total = 0;
            for (const std::vector<double>& band : bands) {
                total += band.size();
            }
            const int id = descriptor->PolygonId();
            if (total != length || id < 0 || static_cast<std::size_t>(id) >= slice) {
                throw std::logic_error(Name() + " gave a descriptor of " + std::to_string(total) +
                                       " values for window " + std::to_string(id) + ", not " +
                                       std::to_string(length) + " values for one of the " +
                                       std::to_string(slice) + " windows asked for");
            }
            double* out = features + (start + static_cast<std::size_t>(id)) * length;
            for (const std::vector<double>& band : bands) {
                out = std::copy(band.begin(), band.end(), out);
            }
        }
    }
}

std::shared_ptr<Descriptor> FeatureExtractionAlgorithm::LabelledDescriptor(
    const math::Polygon& polygon, int bands, int length) {
    auto descriptor = std::make_shared<Descriptor>(bands, length);
    descriptor->SetClass(polygon.Class());
    descriptor->SetPolygonId(polygon.Id());
    return descriptor;
}

FeatureExtractionAlgorithm::FlatDescriptors FeatureExtractionAlgorithm::DescribeIntoOneBlock(
    const PolygonList& polygons, const WindowCounter& windows,
    const PolygonWriter& describe) const {
    CheckPolygons(polygons);
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    // Window counts, then where each polygon's windows start.
    std::vector<std::size_t> starts(polygons.size() + 1, 0);
    util::ParallelFor(polygons.size(),
                      [&](std::size_t index) { starts[index + 1] = windows(*polygons[index]); });
    for (std::size_t index = 0; index < polygons.size(); ++index) {
        starts[index + 1] += starts[index];
    }
    FlatDescriptors flat;
    flat.values.resize(starts.back() * length);
    flat.polygonIds.resize(starts.back());
    util::ParallelFor(polygons.size(), [&](std::size_t index) {
        std::fill(flat.polygonIds.begin() + static_cast<std::ptrdiff_t>(starts[index]),
                  flat.polygonIds.begin() + static_cast<std::ptrdiff_t>(starts[index + 1]),
                  polygons[index]->Id());
        describe(*polygons[index], flat.values.data() + starts[index] * length);
    });
    return flat;
}

FeatureExtractionAlgorithm::FlatDescriptors FeatureExtractionAlgorithm::DescribePolygons(
    PolygonList& polygons) {
    const DescriptorList descriptors = Process(polygons);
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    FlatDescriptors flat;
    flat.values.reserve(descriptors.size() * length);
    flat.polygonIds.reserve(descriptors.size());
    for (const auto& descriptor : descriptors) {
        std::size_t values = 0;
        for (const auto& band : descriptor->Features()) {
            flat.values.insert(flat.values.end(), band.begin(), band.end());
            values += band.size();
        }
        if (values != length) {
            throw std::logic_error(Name() + " gave a descriptor of " + std::to_string(values) +
                                   " values, not " + std::to_string(length));
        }
        flat.polygonIds.push_back(descriptor->PolygonId());
    }
    return flat;
}

}  // namespace velkar::featureextraction
