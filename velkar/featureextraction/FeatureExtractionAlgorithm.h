#pragma once

// Base of every feature extractor: turns the image given by SetImage and a list of labelled
// polygons into descriptors. Process runs one task per polygon on the worker threads; the result
// holds each polygon's descriptors in its window order, polygon after polygon in input order,
// whatever the number of threads. During Process the image and
// the extractor's settings are only read; SetImage must not be called while Process runs.
// Process without an image throws std::logic_error. DescribeGrid describes a batch of the
// windows of a regular grid (WindowGrid) into one flat block of FeatureCount() values per window.
// Images hold N bands of 8-bit levels; extractors defined per band describe each of them, so
// their FeatureCount() follows the band count of the image set (3 before any image is set).
// An image with a mask of absent pixels (no data in its file) gives no window that holds one:
// such windows are left out of the polygon layouts below and counted per polygon
// (TakeLeftOutWindows); the count is made from a summed-area table of the mask built once per
// SetImage, so the test costs the same for every window size.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velkar/featureextraction/Descriptor.h"
#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/imageprocessing/AbsentPixels.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/DefaultInitAllocator.h"

namespace velkar::featureextraction {

class FeatureExtractionAlgorithm {
  public:
    using DescriptorList = std::vector<std::shared_ptr<Descriptor>>;
    using PolygonList = std::vector<std::shared_ptr<math::Polygon>>;

    FeatureExtractionAlgorithm() = default;
    // Copies share the image.
    FeatureExtractionAlgorithm(const FeatureExtractionAlgorithm&) = default;
    FeatureExtractionAlgorithm& operator=(const FeatureExtractionAlgorithm&) = default;
    virtual ~FeatureExtractionAlgorithm() = default;

    // Throws std::invalid_argument, keeping the image it had, when the extractor cannot
    // describe an image of that many bands (see CheckBandCount).
    void SetImage(std::shared_ptr<imageprocessing::ImageFileSystem> newImage);
    // The bands of the image set, 3 before any image is set.
    int ImageBandCount() const;

    virtual std::string FileExtension() const;
    virtual std::string Version() const;
    virtual std::string Name() const;
    virtual int WindowSize() const = 0;
    // The number of values in each descriptor, all bands together.
    virtual int FeatureCount() const = 0;
    // The descriptors of all polygons; the polygon list is not changed.
    virtual DescriptorList Process(PolygonList& polygons) = 0;
    // The side of the square windows a new image is cut into when a model trained on these
    // polygons classifies it: WindowSize() unless an extractor describes whole regions.
    virtual int ClassificationWindowSize(const PolygonList& polygons) const;

    // The descriptors Process gives, flat: FeatureCount() values per descriptor, in Process's
    // order, and the id of the polygon each came from. The default runs Process; extractors may
    // compute the values straight into the block, without a Descriptor per window. Resizing the
    // values leaves the new ones unset: whoever sizes the block writes every value of it.
    struct FlatDescriptors {
        std::vector<double, util::DefaultInitAllocator<double>> values;
        std::vector<int> polygonIds;
    };
    virtual FlatDescriptors DescribePolygons(PolygonList& polygons);

    // Describes windows first ... first + count - 1 of the grid into features, FeatureCount()
    // values per window, window after window; features is resized to count * FeatureCount().
    // The values are those Process gives for a polygon spanning the window's pixels, its corners
    // (x, y), (x, y + w), (x + w, y + w), (x + w, y); a window that yields no descriptor gets
    // NaN values, and one that yields several gets the last; an extractor with its own grid path
    // may differ from them by rounding (see its header). A window holding an absent pixel of
    // the image gets NaN values on every path. Throws std::logic_error without an
    // image, std::invalid_argument when the grid is larger than the image and std::out_of_range
    // when the batch reaches past the grid's last window. Not safe to call concurrently on the
    // same extractor; it runs its own tasks.
    void DescribeGrid(const WindowGrid& grid, std::size_t first, std::size_t count,
                      std::vector<double>& features);

    // The windows left out since the last call (or since SetImage) because a pixel of theirs is
    // absent, by polygon id, counting only polygons that lost one; the counts start again at 0.
    // Copies of an extractor share the counts.
    std::map<int, long long> TakeLeftOutWindows();

  protected:
    // The bounding box of a polygon's vertices as the extractors lay it: running minima start at
    // 100000000 and maxima at 0, so a polygon wholly at negative coordinates gets maxima 0 and
    // one without vertices gets minima above its maxima.
    struct BoundingBox {
        long long minX;
        long long minY;
        long long maxX;
        long long maxY;
    };
    static BoundingBox BoxOf(const math::Polygon& polygon);

    using PolygonTask = std::function<DescriptorList(const math::Polygon& polygon)>;
    // Called with the origin (column, row) of every window taken.
    using WindowVisitor = std::function<void(int x, int y)>;

    const std::shared_ptr<imageprocessing::ImageFileSystem>& Image() const { return image; }
    // Throws std::invalid_argument naming the setting that needs another band count; the
    // default takes any count.
    virtual void CheckBandCount(int bandCount) const;

    // The work of DescribeGrid once its arguments are checked: count * FeatureCount() values
    // go to features. The default lays one polygon per window and runs Process on them.
    virtual void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                                     double* features);

    // Throws std::logic_error without an image and std::invalid_argument for an empty polygon
    // pointer.
    void CheckPolygons(const PolygonList& polygons) const;
    // What DescribePolygons gives when a polygon has windows(polygon) windows and
    // describe(polygon, out) writes their FeatureCount() values each to out, window after window.
    // The windows are counted first, on the worker threads, so that every polygon then writes
    // straight into its part of the one block. Throws as CheckPolygons does.
    using WindowCounter = std::function<std::size_t(const math::Polygon& polygon)>;
    using PolygonWriter = std::function<void(const math::Polygon& polygon, double* out)>;
    FlatDescriptors DescribeIntoOneBlock(const PolygonList& polygons, const WindowCounter& windows,
                                         const PolygonWriter& describe) const;
    // Runs processPolygon for every polygon in parallel and joins the results in polygon order.
    // Throws as CheckPolygons does; an exception from a task reaches the caller.
    DescriptorList ProcessPolygons(const PolygonList& polygons,
                                   const PolygonTask& processPolygon) const;

    // Square-window layout over one polygon, for window size w >= 1:
    //  - the bounding box of the vertices, with running minima starting at 100000000 and maxima
    //    at 0 (a polygon lying wholly at negative coordinates thus gets maxima 0);
    //  - window origins x = minX, minX + w, ... while x < maxX (outer loop) and, for each x,
    //    y = minY, minY + w, ... while y < maxY (inner loop), so the grid is anchored at the
    //    box's minimum corner and a box that is not a multiple of w leaves a strip uncovered;
    //  - a window covers columns x ... x + w - 1 and rows y ... y + w - 1 and is taken when the
    //    four points (x, y), (x + w, y), (x + w, y + w), (x, y + w) are contained in the
    //    polygon (boundary included), the square between them shares no area with a hole of
    //    the polygon, and all its pixels lie inside the image.
    // visit is called for the taken windows in loop order (x-major, then y). Throws
    // std::invalid_argument when w < 1.
    void ForEachWindow(const math::Polygon& polygon, int windowSize,
                       const WindowVisitor& visit) const;
    // The same grid, but the corner test uses the covered corner pixels (x, y),
    // (x + w - 1, y), (x + w - 1, y + w - 1), (x, y + w - 1); a box of exactly w - 1 then
    // still holds a window (and holes are tested against the square between those corners).
    void ForEachCoveredWindow(const math::Polygon& polygon, int windowSize,
                              const WindowVisitor& visit) const;
    // The windows ForEachWindow (or, with coveredCorners, ForEachCoveredWindow) visits; the
    // windows left out are not counted again.
    std::size_t CountWindows(const math::Polygon& polygon, int windowSize,
                             bool coveredCorners = false) const;

    // Whether columns x ... x + width - 1, rows y ... y + height - 1 hold an absent pixel of the
    // image; O(1).
    bool HasAbsentPixel(long long x, long long y, long long width, long long height) const;
    // Adds windows of the polygon to the left-out count.
    void CountLeftOut(const math::Polygon& polygon, long long windows) const;

    // A descriptor of bands zero vectors of the given length, carrying the polygon's class and
    // id.
    static std::shared_ptr<Descriptor> LabelledDescriptor(const math::Polygon& polygon, int bands,
                                                          int length);

  private:
    // Sets the values of every window of the batch that holds an absent pixel to NaN, as for a
    // window that yields no descriptor, whatever the grid path computed for it.
    void LeaveOutAbsentWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                               double* features) const;
    // countLeftOut adds the windows left out for absent pixels to the polygon's count.
    void LayWindows(const math::Polygon& polygon, int windowSize, int cornerReach,
                    const WindowVisitor& visit, bool countLeftOut = true) const;

    struct LeftOutWindows {
        std::mutex lock;
        std::map<int, long long> byPolygon;
    };

    std::shared_ptr<imageprocessing::ImageFileSystem> image;
    // None for an image without absent pixels.
    std::shared_ptr<const imageprocessing::AbsentPixels> absentPixels;
    std::shared_ptr<LeftOutWindows> leftOut = std::make_shared<LeftOutWindows>();
};

}  // namespace velkar::featureextraction
