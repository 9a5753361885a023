#pragma once

// Describes every square window inside a polygon by the magnitudes of the lowest spatial
// frequencies of each band of the image: B bands (red, green, blue for a colour picture) of k x k
// values each, k = floor(sqrt(coefficients)). The w x w window is centred in a zero-padded
// N x N square (PaddedWindow) and value u * k + v of a band is |F(u, v)| of the unnormalised
// two-dimensional DFT F(u, v) = sum over window pixels (i, j) of
// f(i, j) e^(-2 pi i (u (pad + i) + v (pad + j)) / N), u counting along columns, v along rows;
// value 0 is the DC term, the window's sum. Windows are those of the covered-corner layout.
// Valid settings: 1 <= w <= 2^30 and 1 <= k <= N, with 3 k^2 countable by an int (and B k^2
// for an image of B bands, or setting it throws std::invalid_argument).

#include <string>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
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

    // k = floor(sqrt(coefficients)), the side of the kept block; 0 for coefficients < 1.
    static int KeptFrequencies(int coefficients);
    // The largest coefficient count whose k neither exceeds the padded side N nor makes 3 k^2
    // overflow an int. Throws std::invalid_argument for a window size PaddedWindow rejects.
    static int MaximumCoefficients(int windowSize);

  protected:
    void CheckBandCount(int bandCount) const override;

  private:
    // e^(-2 pi i f (pad + m) / N) for frequency f < k and window offset m < w, stored at
    // f * w + m. Only the kept k x k corner is computed, so these are all the factors needed.
    struct Twiddles {
        std::vector<double> cosines;
        std::vector<double> sines;
    };
    // Per-thread work space, reused from window to window.
    struct Scratch {
        std::vector<double> samples;
        std::vector<double> real;
        std::vector<double> imaginary;
    };

    Twiddles MakeTwiddles() const;
    DescriptorList ProcessPolygon(const math::Polygon& polygon, const Twiddles& twiddles,
                                  Scratch& scratch) const;
    void DescribeWindow(int x, int y, const Twiddles& twiddles, Scratch& scratch,
                        Descriptor& descriptor) const;
    // The two passes of DescribeWindow: along the rows, then along the columns.
    void SumAlongRows(int x, int y, const Twiddles& twiddles, Scratch& scratch) const;
    void WriteMagnitudes(const Twiddles& twiddles, const Scratch& scratch,
                         Descriptor& descriptor) const;

    int windowSize;
    int coefficients;
    PaddedWindow padded;
    int kept;
};

}  // namespace velkar::featureextraction
