#pragma once

// Base of the extractors that describe every square window inside a polygon by what they fold out
// of its grey-level co-occurrence matrices (TextureHistogram2D), one fold per band of the image and
// displacement k = (dx[k], dy[k]): N bands (red, green, blue for a colour picture) of v n values, n
// = dx.size(), where v values per displacement start at value v k. Process gives every worker
// thread one histogram, made on its first polygon and reused for every window after it (a window
// clears only the cells the one before it filled). Window layout and parallel processing are the
// base's.
// The grid path keeps each window's pairs in a tally of the subclass's own (SlidingTextureWindow)
// that slides from window to window, for windows up to kLargestSlidingWindow; larger ones are
// folded one at a time as Process does, straight into the block. DescribePolygons folds every
// window as Process does, straight into the one block instead of a Descriptor per window.

#include <cstddef>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/GridBatch.h"
#include "velkar/featureextraction/SlidingTextureWindow.h"
#include "velkar/featureextraction/TextureHistogram2D.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

class TextureHistogramExtractor : public FeatureExtractionAlgorithm {
  public:
    // A window's pair count per band and displacement then fits 16 bits.
    static constexpr int kLargestSlidingWindow = 255;

    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;
    FlatDescriptors DescribePolygons(PolygonList& polygons) override;

  protected:
    // Throws std::invalid_argument as TextureHistogram2D::CheckDisplacements does.
    TextureHistogramExtractor(int windowSize, std::vector<int> dx, std::vector<int> dy,
                              int valuesPerDisplacement);

    // Writes the values of displacement k on one band of a calculated histogram to
    // out[0] ... out[v - 1], which hold 0 when it is called.
    virtual void Fold(const TextureHistogram2D::Histogram& histogram, int displacement, int band,
                      double* out) const = 0;

    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;
    // The grid path of windows up to kLargestSlidingWindow, typically SlideOverGrid with the
    // subclass's tally.
    virtual void DescribeSlidingGrid(const WindowGrid& grid, std::size_t first, std::size_t count,
                                     double* features) = 0;

    // Describes the batch's windows tile by tile on the worker threads: loads each tile's region
    // into a SlidingTextureWindow and calls describeTile(window, tally, batch, tile), with one
    // window and one tally made by makeTally() per thread.
    template <typename MakeTally, typename DescribeTile>
    void SlideOverGrid(const WindowGrid& grid, std::size_t first, std::size_t count,
                       MakeTally makeTally, DescribeTile describeTile) const;

    int Bands() const { return ImageBandCount(); }
    int Displacements() const { return static_cast<int>(dx.size()); }
    int ValuesPerDisplacement() const { return valuesPerDisplacement; }
    // The pairs of displacement k in a window that lies inside the image, per band.
    int PairCount(int k) const;

  private:
    DescriptorList ProcessPolygon(const math::Polygon& polygon, const TextureHistogram2D& texture,
                                  TextureHistogram2D::Histogram& histogram) const;
    // Folds one calculated window into out, band after band.
    void FoldWindow(const TextureHistogram2D::Histogram& histogram, double* out) const;

    int windowSize;
    std::vector<int> dx;
    std::vector<int> dy;
    int valuesPerDisplacement;
};

template <typename MakeTally, typename DescribeTile>
void TextureHistogramExtractor::SlideOverGrid(const WindowGrid& grid, std::size_t first,
                                              std::size_t count, MakeTally makeTally,
                                              DescribeTile describeTile) const {
    // Tiles about this many pixels a side keep a thread's levels small; rows of many windows
    // spread the cost of filling the first window of a tile.
    constexpr int kTileSide = 256;
    const GridBatch batch(grid, first, count);
    const std::vector<GridBatch::Tile> tiles = batch.Tiles(
        kTileSide, static_cast<std::size_t>((windowSize + grid.Step() - 1) / grid.Step()));
    struct Worker {
        SlidingTextureWindow window;
        decltype(makeTally()) tally;
    };
    util::Combinable<Worker> workers([&] {
        return Worker{SlidingTextureWindow(windowSize, dx, dy, Bands()), makeTally()};
    });
    const imageprocessing::ImageFileSystem& image = *Image();
    util::ParallelFor(tiles.size(), [&](std::size_t index) {
        Worker& worker = workers.Local();
        const GridBatch::Tile& tile = tiles[index];
        worker.window.Load(image, batch.Left(tile), batch.Top(tile), batch.RegionWidth(tile),
                           batch.RegionHeight(tile));
        describeTile(worker.window, worker.tally, batch, tile);
    });
}

}  // namespace velkar::featureextraction
