#pragma once

// Describes every square window inside a polygon by the magnitudes of the lowest spatial
// frequencies of each band of the image: B bands (red, green, blue for a colour picture) of k x k
// values each, k = floor(sqrt(coefficients)). The w x w window is centred in a zero-padded
// N x N square (PaddedWindow) and value u * k + v of a band is |F(u, v)| of the unnormalised
// two-dimensional DFT F(u, v) = sum over window pixels (i, j) of
// f(i, j) e^(-2 pi i (u (pad + i) + v (pad + j)) / N), u counting along columns, v along rows;
// value 0 is the DC term, the window's sum. Windows are those of the covered-corner layout.
// Valid settings: 1 <= w <= 2^30 and 1 <= k <= N, with 3 k^2 countable by an int (and B k^2
// for an image of B bands, or setting it throws std::invalid_argument). The grid path
// sums each image column along the rows once for all the windows of a grid row, then every
// window along its columns, with the very operations of a window's own pass: the same values.

#include <string>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/GridBatch.h"
#include "velkar/featureextraction/PaddedWindow.h"

namespace velkar::featureextraction {

class FourierTransform : public FeatureExtractionAlgorithm {
  public:
    // Throws std::invalid_argument for a window size PaddedWindow rejects, and for coefficients
    // outside 1 ... MaximumCoefficients(windowSize).
    FourierTransform(int windowSize, int coefficients);

    std::string Name() const override;
    std::string FileExtension() const override;
    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;
    // The values Process gives, each window described into one reused descriptor per thread.
    FlatDescriptors DescribePolygons(PolygonList& polygons) override;

    // k = floor(sqrt(coefficients)), the side of the kept block; 0 for coefficients < 1.
    static int KeptFrequencies(int coefficients);
    // The largest coefficient count whose k neither exceeds the padded side N nor makes 3 k^2
    // overflow an int. Throws std::invalid_argument for a window size PaddedWindow rejects.
    static int MaximumCoefficients(int windowSize);

  protected:
    void CheckBandCount(int bandCount) const override;
    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;

  private:
    // e^(-2 pi i f (pad + m) / N) for frequency f < k and window offset m < w, stored at
    // f * w + m. Only the kept k x k corner is computed, so these are all the factors needed.
    struct Twiddles {
        std::vector<double> cosines;
        std::vector<double> sines;
    };
    // Per-thread work space, reused from window to window; the grid path keeps the sums of a
    // row's windows in windowSums.
    struct Scratch {
        std::vector<double> samples;
        std::vector<double> real;
        std::vector<double> imaginary;
        std::vector<double> windowSums;
    };

    Twiddles MakeTwiddles() const;
    // MakeTwiddles when a window fits the image, which a huge window size on a small image need
    // not pay for; nothing otherwise.
    Twiddles TwiddlesForImage() const;
    DescriptorList ProcessPolygon(const math::Polygon& polygon, const Twiddles& twiddles,
                                  Scratch& scratch) const;
    void DescribeWindow(int x, int y, const Twiddles& twiddles, Scratch& scratch,
                        Descriptor& descriptor) const;
    // The two passes of DescribeWindow: along the rows, then along the columns.
    void SumAlongRows(int x, int y, const Twiddles& twiddles, Scratch& scratch) const;
    void WriteMagnitudes(const Twiddles& twiddles, const Scratch& scratch,
                         Descriptor& descriptor) const;
    // The grid path's two passes over one grid row of a tile: the sums along the rows of the
    // image columns its windows cover, then every window's magnitudes.
    void SumColumnsAlongRows(int left, int top, int columns, const Twiddles& twiddles,
                             Scratch& scratch) const;
    void WriteRowMagnitudes(const GridBatch::RowRun& run, const GridBatch& batch,
                            const Twiddles& twiddles, Scratch& scratch, double* features) const;

    int windowSize;
    int coefficients;
    PaddedWindow padded;
    int kept;
};

}  // namespace velkar::featureextraction
