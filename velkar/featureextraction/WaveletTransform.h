#pragma once

// Describes every square window inside a polygon by the coarsest approximation coefficients of
// an s-level separable two-dimensional discrete wavelet transform of each band of the image: B
// bands (red, green, blue for a colour picture) of k x k values each, k = floor(sqrt(N >> s)).
// The w x w window is centred in a zero-padded N x N square (PaddedWindow); every level
// transforms the columns, then the rows of the current block and halves it, and value u * k + v
// of a band is the coefficient at column u, row v of the final approximation block. The filters
// come from the catalogue of WaveletFilters.h by exact name; lines are extended by repeated
// whole-sample symmetric reflection. Valid settings: 1 <= w <= 2^30, s >= 1 with 2^s <= N; an
// image whose B k^2 values an int cannot count is refused with std::invalid_argument.
// The grid path computes only the approximation coefficients the kept corner depends on, and the
// first level's column transforms once for all the windows of a grid row, with the very
// operations of a window's own pass: the same values. DescribePolygons takes that restricted
// transform window by window; Process keeps the full transform.

#include <cstddef>
#include <string>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/GridBatch.h"
#include "velkar/featureextraction/PaddedWindow.h"

namespace velkar::featureextraction {

class WaveletTransform : public FeatureExtractionAlgorithm {
  public:
    // Throws std::invalid_argument for a window size PaddedWindow rejects, a scale outside
    // 1 ... MaximumScale(windowSize), and a name outside the catalogue (the message lists the
    // valid names).
    WaveletTransform(int windowSize, int scale, std::string waveletName);

    std::string Name() const override;
    // The wavelet name followed by ".dwt", for example "db1.dwt".
    std::string FileExtension() const override;
    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;
    // The values Process gives, each window described into one reused descriptor per thread.
    FlatDescriptors DescribePolygons(PolygonList& polygons) override;

    // The catalogue's names in catalogue order.
    static std::vector<std::string> WaveletNames();
    // log2(N), the most levels a window of this size can take. Throws std::invalid_argument for
    // a window size PaddedWindow rejects.
    static int MaximumScale(int windowSize);

  protected:
    void CheckBandCount(int bandCount) const override;
    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;

  private:
    // Per-thread work space, reused from window to window: the N x N square stored column by
    // column, and two lines of N values.
    struct Scratch {
        std::vector<double> square;
        std::vector<double> line;
        std::vector<double> transformed;
    };

    DescriptorList ProcessPolygon(const math::Polygon& polygon, Scratch& scratch) const;
    void DescribeWindow(int x, int y, Scratch& scratch, Descriptor& descriptor) const;
    void LoadBand(int x, int y, int band, double* square) const;
    // scale levels of the separable transform on the square, in place.
    void Transform2D(double* square, Scratch& scratch) const;
    // One analysis step of the n values in line: the n / 2 approximation coefficients, then the
    // n / 2 detail coefficients.
    void Transform1D(double* line, int n, double* transformed) const;

    // What the kept corner needs of every level: the first outputs[level] approximation
    // coefficients of its lines, each reading the samples taps[level][i * filter length + t]
    // of the first inputs[level] lines, in the order Transform1D reads them.
    struct GridPlan {
        std::vector<int> outputs;
        std::vector<int> inputs;
        std::vector<std::vector<int>> taps;
    };
    // A window of a polygon; its values go to offset.
    struct PlacedWindow {
        int y;
        int x;
        std::size_t offset;
    };
    // The grid path's work space: the first level's column coefficients of a grid row per band,
    // a chunk of windows' blocks, window innermost, and where a run's windows' values go.
    struct GridScratch {
        std::vector<double> columns;
        std::vector<double> block;
        std::vector<double> transformed;
        std::vector<std::size_t> offsets;
        // A polygon's windows as visited, then row by row, and where each row starts.
        std::vector<PlacedWindow> visited;
        std::vector<PlacedWindow> windows;
        std::vector<std::size_t> rowStarts;
    };
    GridPlan MakeGridPlan() const;
    void DescribeRun(int left, int top, std::size_t count, int step, const GridPlan& plan,
                     GridScratch& scratch, double* values) const;

    int windowSize;
    int scale;
    std::vector<double> lowPass;
    std::vector<double> highPass;
    int offset;
    std::string waveletName;
    PaddedWindow padded;
    int kept;
};

}  // namespace velkar::featureextraction
