#include "velkar/featureextraction/Hog.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

// The stabiliser is used as this constant.
constexpr double kStabiliser = 0.01;
// The grid path prepares the gradients of tiles of about this many pixels a side (one window
// at least), which keeps a thread's planes within a few megabytes.
constexpr int kGridTileSide = 256;
// Tiles are cut smaller to give every thread work, but not below this many windows a side: a
// window's cells cost far more than the gradients a smaller tile would take again.
constexpr std::size_t kSmallestGridTile = 32;
// Larger windows are described one polygon at a time: their own pixels outweigh what windows
// share, and a tile's planes (56 bytes a pixel) would no longer stay small.
constexpr int kLargestGridWindow = 512;

// sum / 3.0 for every sum of three 8-bit levels, so that a colour pixel's grey value costs no
// division.
constexpr std::array<double, 766> kThirds = [] {
    std::array<double, 766> thirds{};
    for (int sum = 0; sum < 766; ++sum) {
        thirds[static_cast<std::size_t>(sum)] = sum / 3.0;
    }
    return thirds;
}();

// The grey value of a pixel: the mean of its band levels, the whole-number sum divided once,
// (R + G + B) / 3 for a colour picture.
double GrayOf(const unsigned char* pixel, int bands) {
    if (bands == 3) {
        return kThirds[static_cast<std::size_t>(pixel[0] + pixel[1] + pixel[2])];
    }
    int sum = 0;
    for (int band = 0; band < bands; ++band) {
        sum += pixel[band];
    }
    return sum / static_cast<double>(bands);
}

}  // namespace

// Buffers reused by the polygons one thread describes.
struct Hog::Workspace {
    std::vector<double> gray;
    std::vector<double> cells;
    std::vector<int> cellOfColumn;
    // The gradients of one row.
    std::vector<double> magnitudes;
    std::vector<int> rowBins;
};

// Buffers reused by the tiles one thread describes on the grid path: the grey values of the
// tile's region and, for each of its pixels, the gradient a window sees there when the pixel is
// inside the window (both differences), on its left or right edge (only the difference down)
// and on its top or bottom edge (only the difference across); a zero gradient has magnitude 0.
struct Hog::GridWorkspace {
    int regionWidth = 0;
    std::vector<double> gray;
    std::vector<Gradient> inside;
    std::vector<Gradient> downOnly;
    std::vector<Gradient> acrossOnly;
    std::vector<double> cells;
};

Hog::Hog(int blocksX, int blocksY, int bins)
    : blocksX(blocksX),
      blocksY(blocksY),
      bins(bins),
      orientations(CheckedBinCount(blocksX, blocksY, bins)) {}

int Hog::CheckedBinCount(int blocksX, int blocksY, int bins) {
    using util::InvalidParameter;
    const InvalidParameter::Rules rules("Hog");
    rules.AtLeast("blocksX", blocksX, 1, "at least 1 block across x is needed");
    rules.AtLeast("blocksY", blocksY, 1, "at least 1 block across y is needed");
    rules.AtLeast("bins", bins, 1, "at least 1 orientation bin is needed");
    const long long features = static_cast<long long>(blocksX) * blocksY * bins;
    if (features > kMaxFeatureCount) {
        throw InvalidParameter(
            "Hog", {"blocksX", "blocksY", "bins"},
            {std::to_string(blocksX), std::to_string(blocksY), std::to_string(bins)},
            "they give " + std::to_string(features) + " values per descriptor, more than " +
                std::to_string(kMaxFeatureCount));
    }
    return bins;
}

std::string Hog::Name() const { return "Histogram of Oriented Gradients"; }

std::string Hog::FileExtension() const { return "dat"; }

int Hog::WindowSize() const { return blocksX; }

int Hog::FeatureCount() const { return blocksX * blocksY * bins; }

Hog::DescriptorList Hog::Process(PolygonList& polygons) {
    util::Combinable<Workspace> workspaces;
    return ProcessPolygons(polygons, [this, &workspaces](const math::Polygon& polygon) {
        return ProcessPolygon(polygon, workspaces.Local());
    });
}

int Hog::ClassificationWindowSize(const PolygonList& polygons) const {
    std::vector<long long> sides;
    for (const auto& polygon : polygons) {
        if (!polygon) {
            continue;
        }
        const BoundingBox box = BoxOf(*polygon);
        sides.push_back(std::max({box.maxX - box.minX, box.maxY - box.minY, 0LL}));
    }
    long long median = 0;
    if (!sides.empty()) {
        std::sort(sides.begin(), sides.end());
        const std::size_t middle = sides.size() / 2;
        median = sides.size() % 2 == 1 ? sides[middle] : (sides[middle - 1] + sides[middle]) / 2;
    }
    const long long smallest = std::max(blocksX, blocksY) + 1LL;
    return static_cast<int>(std::min<long long>(std::max(median, smallest), INT_MAX));
}

// Inline, as it runs once per pixel: only this file calls it.
inline Hog::Gradient Hog::GradientOf(double di, double dj) const {
    return {std::sqrt(di * di + dj * dj), orientations.Bin(di, dj)};
}

// Where one polygon's pass reads: the bounding box, its cells, and the box columns
// iBegin ... iEnd - 1 and rows jBegin ... jEnd - 1 of the blocks whose pixels can have a gradient.
struct Hog::Region {
    BoundingBox box;
    long long boxWidth;
    long long boxHeight;
    long long cellWidth;
    long long cellHeight;
    long long iBegin;
    long long iEnd;
    long long jBegin;
    long long jEnd;

    // The grey values are kept with a margin of one pixel around those columns and rows.
    long long GrayStride() const { return iEnd - iBegin + 2; }
    long long GrayRows() const { return jEnd - jBegin + 2; }
};

Hog::DescriptorList Hog::ProcessPolygon(const math::Polygon& polygon, Workspace& workspace) const {
    const Region region = RegionOf(polygon);
    if (HasAbsentPixel(region.box.minX, region.box.minY, region.boxWidth, region.boxHeight)) {
        // The box is described as a whole, so one absent pixel leaves the polygon out.
        CountLeftOut(polygon, 1);
        return {};
    }
    auto descriptor = LabelledDescriptor(polygon, 1, FeatureCount());
    if (region.cellWidth == 0 || region.cellHeight == 0) {
        // Every block is empty, and 0 / (0 + 0.01) leaves its histogram at 0.
        return {descriptor};
    }
    const std::size_t cellCount = static_cast<std::size_t>(blocksX + 1) *
                                  static_cast<std::size_t>(blocksY + 1) *
                                  static_cast<std::size_t>(bins);
    workspace.cells.assign(cellCount, 0.0);
    if (region.iBegin < region.iEnd && region.jBegin < region.jEnd) {
        GatherGray(region, workspace.gray);
        AccumulateGradients(region, workspace);
    }
    WriteBlocks(workspace.cells.data(), descriptor->Features()[0].data());
    return {descriptor};
}

Hog::Region Hog::RegionOf(const math::Polygon& polygon) const {
    Region region{};
    region.box = BoxOf(polygon);
    const BoundingBox& box = region.box;
    region.boxWidth = std::max(box.maxX - box.minX, 0LL);
    region.boxHeight = std::max(box.maxY - box.minY, 0LL);
    region.cellWidth = region.boxWidth / (blocksX + 1);
    region.cellHeight = region.boxHeight / (blocksY + 1);

    // Box coordinates (i, j) = (x - minX, y - minY). Only pixels inside the blocks matter, and
    // only those at most one pixel from the image can have a gradient: the grey value is 0
    // everywhere else. Restricting the pass to them bounds the work by the image size however
    // large the box is, and changes no sum (the others would add magnitudes of 0).
    const imageprocessing::ImageFileSystem& image = *Image();
    const long long coveredWidth = region.cellWidth * (blocksX + 1);
    const long long coveredHeight = region.cellHeight * (blocksY + 1);
    region.iBegin = std::max(0LL, -1 - box.minX);
    region.iEnd = std::min(coveredWidth, image.Width() + 1LL - box.minX);
    region.jBegin = std::max(0LL, -1 - box.minY);
    region.jEnd = std::min(coveredHeight, image.Height() + 1LL - box.minY);
    return region;
}

void Hog::GatherGray(const Region& region, std::vector<double>& gray) const {
    // Grey values of the region with a margin of one pixel, 0 outside the box or the image.
    const imageprocessing::ImageFileSystem& image = *Image();
    const BoundingBox& box = region.box;
    const long long stride = region.GrayStride();
    gray.assign(static_cast<std::size_t>(stride * region.GrayRows()), 0.0);
    const int bands = image.BandCount();
    for (long long j = region.jBegin - 1; j <= region.jEnd; ++j) {
        const long long y = box.minY + j;
        if (j < 0 || j >= region.boxHeight || y < 0 || y >= image.Height()) {
            continue;
        }
        const unsigned char* row = image.Row(static_cast<int>(y));
        double* out = gray.data() + (j - region.jBegin + 1) * stride;
        const long long iFirst = std::max({region.iBegin - 1, 0LL, -box.minX});
        const long long iLast =
            std::min({region.iEnd, region.boxWidth - 1, image.Width() - 1 - box.minX});
        for (long long i = iFirst; i <= iLast; ++i) {
            out[i - region.iBegin + 1] = GrayOf(row + (box.minX + i) * bands, bands);
        }
    }
}

void Hog::AccumulateGradients(const Region& region, Workspace& workspace) const {
    const long long iBegin = region.iBegin;
    const long long iEnd = region.iEnd;
    const long long stride = region.GrayStride();
    std::vector<int>& cellOfColumn = workspace.cellOfColumn;
    cellOfColumn.resize(static_cast<std::size_t>(iEnd - iBegin));
    for (long long i = iBegin; i < iEnd; ++i) {
        cellOfColumn[static_cast<std::size_t>(i - iBegin)] = static_cast<int>(i / region.cellWidth);
    }
    // A difference that would reach past the box is 0, so the box's own border is no edge
    // and a uniform box has no gradient at all.
    const long long lastColumn = region.boxWidth - 1;
    for (long long j = region.jBegin; j < region.jEnd; ++j) {
        const double* above = workspace.gray.data() + (j - region.jBegin) * stride + 1;
        const double* here = above + stride;
        const double* below = here + stride;
        const bool verticalInside = j > 0 && j < region.boxHeight - 1;
        double* cellRow = workspace.cells.data() + static_cast<std::size_t>(j / region.cellHeight) *
                                                       static_cast<std::size_t>(blocksX + 1) *
                                                       static_cast<std::size_t>(bins);
        // The row's gradients first, in a loop whose pixels do not wait for one another, then
        // their sums in pixel order; a pixel whose estimated angle lies too near an edge has its
        // bin settled by atan2 there.
        const std::size_t columns = static_cast<std::size_t>(iEnd - iBegin);
        workspace.magnitudes.resize(columns);
        workspace.rowBins.resize(columns);
        double* const magnitudes = workspace.magnitudes.data();
        int* const rowBins = workspace.rowBins.data();
        const auto differences = [&](std::size_t k) {
            const long long i = iBegin + static_cast<long long>(k);
            return std::pair<double, double>{
                i > 0 && i < lastColumn ? here[k + 1] - here[k - 1] : 0.0,
                verticalInside ? below[k] - above[k] : 0.0};
        };
        // Every column as an inner one first (the margin holds its neighbours), then the box's
        // first and last column again with their difference across of 0.
        for (std::size_t k = 0; k < columns; ++k) {
            const double di = here[k + 1] - here[k - 1];
            const double dj = verticalInside ? below[k] - above[k] : 0.0;
            magnitudes[k] = std::sqrt(di * di + dj * dj);
            rowBins[k] = orientations.ClearBin(di, dj);
        }
        for (const long long edge : {0LL, lastColumn}) {
            if (edge >= iBegin && edge < iEnd) {
                const std::size_t k = static_cast<std::size_t>(edge - iBegin);
                const auto [di, dj] = differences(k);
                magnitudes[k] = std::sqrt(di * di + dj * dj);
                rowBins[k] = orientations.ClearBin(di, dj);
            }
        }
        for (std::size_t k = 0; k < columns; ++k) {
            const double magnitude = magnitudes[k];
            if (magnitude == 0.0) {
                continue;
            }
            int bin = rowBins[k];
            if (bin < 0) {
                const auto [di, dj] = differences(k);
                bin = orientations.Bin(di, dj);
            }
            cellRow[static_cast<std::size_t>(cellOfColumn[k]) * static_cast<std::size_t>(bins) +
                    static_cast<std::size_t>(bin)] += magnitude;
        }
    }
}

void Hog::WriteBlocks(const double* cells, double* features) const {
    // A block's histogram is the sum of its four cells'.
    const std::size_t rowLength =
        static_cast<std::size_t>(blocksX + 1) * static_cast<std::size_t>(bins);
    std::size_t next = 0;
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            const double* topLeft = cells + static_cast<std::size_t>(by) * rowLength +
                                    static_cast<std::size_t>(bx) * static_cast<std::size_t>(bins);
            const double* bottomLeft = topLeft + rowLength;
            double squares = 0.0;
            for (int k = 0; k < bins; ++k) {
                const double value =
                    topLeft[k] + topLeft[k + bins] + bottomLeft[k] + bottomLeft[k + bins];
                features[next + static_cast<std::size_t>(k)] = value;
                squares += value * value;
            }
            const double divisor = std::sqrt(squares) + kStabiliser;
            for (int k = 0; k < bins; ++k) {
                features[next + static_cast<std::size_t>(k)] /= divisor;
            }
            next += static_cast<std::size_t>(bins);
        }
    }
}

void Hog::DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                              double* features) {
    const int w = grid.WindowSize();
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    if (w / (blocksX + 1) == 0 || w / (blocksY + 1) == 0) {
        // Cells of no pixels: every block is empty, as on a window's own pass.
        std::fill(features, features + count * length, 0.0);
        return;
    }
    if (w > kLargestGridWindow) {
        FeatureExtractionAlgorithm::DescribeGridWindows(grid, first, count, features);
        return;
    }
    // Every window has the same cells: the offset of each covered column's cell in a row of
    // cells.
    const int cellWidth = w / (blocksX + 1);
    std::vector<int> columnCells(static_cast<std::size_t>(cellWidth * (blocksX + 1)));
    for (std::size_t i = 0; i < columnCells.size(); ++i) {
        columnCells[i] = static_cast<int>(i) / cellWidth * bins;
    }
    const GridBatch batch(grid, first, count);
    const std::vector<GridBatch::Tile> tiles = batch.Tiles(kGridTileSide, kSmallestGridTile);
    util::Combinable<GridWorkspace> workspaces;
    util::ParallelFor(tiles.size(), [&](std::size_t index) {
        GridWorkspace& workspace = workspaces.Local();
        PrepareGradients(batch, tiles[index], workspace);
        batch.ForEachWindow(tiles[index], [&](std::size_t n, int x, int y) {
            DescribeGridWindow(x, y, w, columnCells, workspace, features + n * length);
        });
    });
}

// Every difference a window of the tile takes lies inside the tile's region: a window's pass
// reads only its own pixels, and the region holds all of them.
void Hog::PrepareGradients(const GridBatch& batch, const GridBatch::Tile& tile,
                           GridWorkspace& workspace) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const int left = batch.Left(tile);
    const int top = batch.Top(tile);
    const int width = batch.RegionWidth(tile);
    const int height = batch.RegionHeight(tile);
    const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    workspace.regionWidth = width;
    workspace.gray.assign(area, 0.0);
    const int bands = image.BandCount();
    for (int j = 0; j < height; ++j) {
        const unsigned char* row = image.Row(top + j);
        double* out = workspace.gray.data() + static_cast<std::size_t>(j) * width;
        for (int i = 0; i < width; ++i) {
            out[i] = GrayOf(row + static_cast<std::ptrdiff_t>(left + i) * bands, bands);
        }
    }

    workspace.inside.resize(area);
    workspace.downOnly.resize(area);
    workspace.acrossOnly.resize(area);
    const Gradient none{0.0, 0};
    const int binDown = orientations.Bin(0.0, 1.0);
    const int binUp = orientations.Bin(0.0, -1.0);
    const int binRight = orientations.Bin(1.0, 0.0);
    const int binLeft = orientations.Bin(-1.0, 0.0);
    for (int j = 0; j < height; ++j) {
        const double* here = workspace.gray.data() + static_cast<std::size_t>(j) * width;
        const std::size_t rowStart = static_cast<std::size_t>(j) * width;
        for (int i = 0; i < width; ++i) {
            const bool across = i > 0 && i < width - 1;
            const bool down = j > 0 && j < height - 1;
            const double di = across ? here[i + 1] - here[i - 1] : 0.0;
            const double dj = down ? here[i + width] - here[i - width] : 0.0;
            const std::size_t p = rowStart + static_cast<std::size_t>(i);
            workspace.inside[p] = di == 0.0 && dj == 0.0 ? none : GradientOf(di, dj);
            // With one difference 0, the angle is one of four, whatever the other's size.
            workspace.downOnly[p] = dj == 0.0  ? none
                                    : dj > 0.0 ? Gradient{std::sqrt(dj * dj), binDown}
                                               : Gradient{std::sqrt(dj * dj), binUp};
            workspace.acrossOnly[p] = di == 0.0  ? none
                                      : di > 0.0 ? Gradient{std::sqrt(di * di), binRight}
                                                 : Gradient{std::sqrt(di * di), binLeft};
        }
    }
}

// The cells of one window, summed in the order of its own pass: rows down, and across each
// row; pixels without a gradient add nothing.
void Hog::DescribeGridWindow(int x, int y, int windowSize, const std::vector<int>& columnCells,
                             GridWorkspace& workspace, double* features) const {
    const int cellHeight = windowSize / (blocksY + 1);
    const int coveredWidth = static_cast<int>(columnCells.size());
    const int coveredHeight = cellHeight * (blocksY + 1);
    const std::size_t rowLength =
        static_cast<std::size_t>(blocksX + 1) * static_cast<std::size_t>(bins);
    workspace.cells.assign(rowLength * static_cast<std::size_t>(blocksY + 1), 0.0);
    const int last = windowSize - 1;
    for (int j = 0; j < coveredHeight; ++j) {
        const bool rowInside = j > 0 && j < last;
        const std::size_t start =
            static_cast<std::size_t>(y + j) * workspace.regionWidth + static_cast<std::size_t>(x);
        const Gradient* inside = workspace.inside.data() + start;
        const Gradient* downOnly = workspace.downOnly.data() + start;
        const Gradient* acrossOnly = workspace.acrossOnly.data() + start;
        double* cellRow =
            workspace.cells.data() + static_cast<std::size_t>(j / cellHeight) * rowLength;
        for (int i = 0; i < coveredWidth; ++i) {
            const bool columnInside = i > 0 && i < last;
            const Gradient& gradient = rowInside ? (columnInside ? inside[i] : downOnly[i])
                                                 : (columnInside ? acrossOnly[i] : Gradient{});
            if (gradient.magnitude != 0.0) {
                cellRow[columnCells[static_cast<std::size_t>(i)] + gradient.bin] +=
                    gradient.magnitude;
            }
        }
    }
    WriteBlocks(workspace.cells.data(), features);
}

}  // namespace velkar::featureextraction
