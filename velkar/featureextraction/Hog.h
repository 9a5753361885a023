#pragma once

// Describes every polygon as a whole by histograms of gradient orientations: one descriptor per
// polygon, one band of Bx * By * K values. The polygon's bounding box (W x H pixels, every pixel
// taking part, pixels outside the image reading as black) is cut into (Bx + 1) x (By + 1) cells
// of W / (Bx + 1) x H / (By + 1) pixels; block (bx, by) covers cells bx, bx + 1 across and
// by, by + 1 down. The gradient of the grey value, the mean of the pixel's band levels
// ((R + G + B) / 3 for a colour picture), is taken by central differences, 0 on the box's own
// border; its angle atan2(dx, dy) falls into one of K bins of width 6.28318 / K from -3.14159,
// the last bin also taking the angles from its upper edge to pi (OrientationBins, which finds the
// bin without atan2 away from the edges).
// Each block's K-bin sum of gradient magnitudes, divided by its norm + 0.01, is appended,
// blocks ordered by by (outer) then bx. A polygon whose box holds an absent pixel of the image
// gives no descriptor and counts as one window left out. The grid path takes each pixel's
// gradient once for all the windows over it and adds the magnitudes in the order a window's own
// pass does, so its values equal that pass's to the last bit.

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/GridBatch.h"
#include "velkar/featureextraction/OrientationBins.h"

#include <cstddef>
#include <string>
#include <vector>

namespace velkar::featureextraction {

class Hog : public FeatureExtractionAlgorithm {
  public:
    // Descriptors longer than this are refused: they could not be held for many polygons.
    static constexpr long long kMaxFeatureCount = 10000000;

    // Throws std::invalid_argument when a count is below 1 or Bx * By * K exceeds
    // kMaxFeatureCount.
    Hog(int blocksX, int blocksY, int bins);

    std::string Name() const override;
    std::string FileExtension() const override;
    // The block count across x.
    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;
    // The median over the polygons of the longer side of their bounding boxes (the mean of the
    // two middle sides, rounded down, for an even count), at least max(Bx, By) + 1, so that a new
    // image is cut into windows of the size the descriptors were learnt from.
    int ClassificationWindowSize(const PolygonList& polygons) const override;

  protected:
    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;

  private:
    struct Workspace;
    struct Region;
    struct GridWorkspace;
    struct Gradient {
        double magnitude;
        int bin;
    };

    // The bin count, once the counts are checked (the bins are laid out only then).
    static int CheckedBinCount(int blocksX, int blocksY, int bins);
    // The steps of one polygon: where to read, the grey values there, the gradient magnitudes
    // summed per cell and orientation bin, and the normalised block histograms.
    DescriptorList ProcessPolygon(const math::Polygon& polygon, Workspace& workspace) const;
    Region RegionOf(const math::Polygon& polygon) const;
    void GatherGray(const Region& region, std::vector<double>& gray) const;
    void AccumulateGradients(const Region& region, Workspace& workspace) const;
    void WriteBlocks(const double* cells, double* features) const;
    // The magnitude and bin of the differences di across and dj down.
    Gradient GradientOf(double di, double dj) const;
    void PrepareGradients(const GridBatch& batch, const GridBatch::Tile& tile,
                          GridWorkspace& workspace) const;
    // columnCells[i]: where column i of a window falls in a row of cells.
    void DescribeGridWindow(int x, int y, int windowSize, const std::vector<int>& columnCells,
                            GridWorkspace& workspace, double* features) const;

    int blocksX;
    int blocksY;
    int bins;
    OrientationBins orientations;
};

}  // namespace velkar::featureextraction
