#pragma once

// Grey-level co-occurrence counts of one square window per displacement and band of the image: a
// pixel (i, j) whose partner (i + dx[k], j + dy[k]) lies in the window too, both inside the image,
// forms one pair of band levels (a, c), entered in both orders. Displacement k's cells are divided
// by six times its pair count in one band (twice the pairs, times the three bands of a colour
// picture), so each band's 256 x 256 matrix (levels are the raw 8-bit values) is symmetric and sums
// to one third whatever the band count: a band is described alone, as it always was in a colour
// picture. The caller-owned histogram is reused from window to window and keeps only the occupied
// upper-triangle cells, so its size follows the window. One histogram serves one thread at a time;
// the TextureHistogram2D itself is only read.

#include <cstdint>
#include <memory>
#include <vector>

#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::featureextraction {

class TextureHistogram2D {
  public:
    static constexpr int kLevels = 256;
    // The share of one band: its cells sum to 1 / kBandShare.
    static constexpr int kBandShare = 3;

    // A cell a <= c that holds at least one pair.
    struct OccupiedCell {
        std::uint16_t a;
        std::uint16_t c;
        // The pairs with levels (a, c) or (c, a).
        std::uint32_t pairs;
    };

    // The matrices [displacement][band][a][c] of the last window calculated.
    class Histogram {
      public:
        int Displacements() const { return displacements; }
        int Bands() const { return bands; }
        // p(a, c) of displacement k on band b; 0 for every cell when the window held no pair.
        // A lookup through the occupied cells; loops over a matrix should walk OccupiedCells.
        double Cell(int displacement, int band, int a, int c) const;
        // The occupied cells of the upper triangle, in the order the pixels first reached them.
        const std::vector<OccupiedCell>& OccupiedCells(int displacement, int band) const {
            return occupied[static_cast<std::size_t>(displacement * bands + band)];
        }
        // p(a, c) = p(c, a) of an occupied cell of displacement k.
        double Share(int displacement, const OccupiedCell& cell) const {
            // A pair of equal levels enters its diagonal cell twice, once per order.
            const double entries = cell.a == cell.c ? 2.0 * cell.pairs : cell.pairs;
            return entries / divisors[static_cast<std::size_t>(displacement)];
        }

      private:
        friend class TextureHistogram2D;
        Histogram(int displacements, int bands);

        int displacements;
        int bands;
        std::vector<std::vector<OccupiedCell>> occupied;
        // Six times the pair count of one band, per displacement; 0 when there was no pair.
        std::vector<double> divisors;
        // Pair counts of the band being counted, indexed a * kLevels + c; all 0 between bands.
        std::vector<std::uint32_t> counts;
        // The window's levels, band after band, row after row.
        std::vector<std::uint8_t> levels;
    };

    // Throws std::invalid_argument unless levels is 256 and CheckDisplacements accepts the
    // window size and displacements.
    TextureHistogram2D(std::shared_ptr<imageprocessing::ImageFileSystem> image, int windowSize,
                       std::vector<int> dx, std::vector<int> dy, int levels);
    virtual ~TextureHistogram2D() = default;

    // A displacement must be able to pair pixels inside a window: windowSize >= 1, neither list
    // empty, dy at least as long as dx (extra entries unused), and |dx[k]| and |dy[k]| smaller
    // than windowSize. Throws util::InvalidParameter naming the first fault (every dx step is
    // checked before the dy steps).
    static void CheckDisplacements(int windowSize, const std::vector<int>& dx,
                                   const std::vector<int>& dy);

    // Makes histogram a new all-zero histogram for this object's displacements.
    void InitHistogram(std::unique_ptr<Histogram>& histogram) const;
    // Refills histogram (made by InitHistogram of an object with as many displacements, on an
    // image of as many bands) with the window whose top-left pixel is (x, y); parts of the
    // window outside the image count no pair. Throws std::invalid_argument for a histogram of
    // another displacement or band count.
    void Calculate(int x, int y, Histogram& histogram) const;
    // Frees the histogram and leaves the pointer empty; an empty pointer is left alone.
    void ReleaseHistogram(std::unique_ptr<Histogram>& histogram) const;

  private:
    // Copies the band levels of the width x height block at (left, top) into the histogram.
    void GatherLevels(int left, int top, int width, int height, Histogram& histogram) const;
    // Counts the pairs of displacement k in the gathered width x height block.
    void CountPairs(int k, int width, int height, Histogram& histogram) const;

    std::shared_ptr<imageprocessing::ImageFileSystem> image;
    int levels;
    int windowSize;
    std::vector<int> dx;
    std::vector<int> dy;
};

}  // namespace velkar::featureextraction
