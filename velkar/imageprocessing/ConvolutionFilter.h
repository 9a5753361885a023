#pragma once

// A rectangular mask of real weights applied to ImageMemory<double> images in correlation form:
// SizeX() rows of SizeY() weights, row l spanning image x and entry m image y, so Value(l, m)
// weighs the pixel l - SizeX() / 2 columns and m - SizeY() / 2 rows away from the target pixel.
// Convolve computes every band separately; pixels closer than SizeX() / 2 columns or
// SizeY() / 2 rows to the image's edge are copied unchanged. A mask declared separable (the
// product of a scale, a weight per row and a weight per entry, as a Gaussian is) is applied as
// two one-dimensional passes, which equals the direct sum up to rounding. Plain value type.

#include <vector>

#include "velkar/imageprocessing/ImageMemory.h"

namespace velkar::imageprocessing {

class ConvolutionFilter {
  public:
    // An empty mask (0 x 0).
    ConvolutionFilter() = default;
    // weights holds row after row (weight of (l, m) at l * sizeY + m). Negative sizes or a
    // weight count other than sizeX * sizeY throw std::invalid_argument.
    ConvolutionFilter(int sizeX, int sizeY, std::vector<double> weights);
    ConvolutionFilter(const ConvolutionFilter&) = default;
    ConvolutionFilter& operator=(const ConvolutionFilter&) = default;
    virtual ~ConvolutionFilter() = default;

    int SizeX() const { return sizeX; }
    int SizeY() const { return sizeY; }
    // Indices are not checked.
    double Value(int x, int y) const {
        return mask[static_cast<std::size_t>(x) * static_cast<std::size_t>(sizeY) +
                    static_cast<std::size_t>(y)];
    }
    const std::vector<double>& Mask() const { return mask; }

    // Applies filter to source. With a target (which must have the source's width, height and
    // bands, else std::invalid_argument) the result goes there; without one it replaces the
    // source's pixels. Target and source may be the same image.
    static void Convolve(ImageMemory<double>& source, const ConvolutionFilter& filter,
                         ImageMemory<double>* target = nullptr);

  protected:
    // Sets the mask and declares it equal, up to rounding, to scale * alongX[l] * alongY[m].
    void SetSeparableMask(int newSizeX, int newSizeY, std::vector<double> weights,
                          std::vector<double> alongX, std::vector<double> alongY, double scale);

  private:
    void ApplyDirect(const ImageMemory<double>& source, ImageMemory<double>& target) const;
    void ApplySeparable(const ImageMemory<double>& source, ImageMemory<double>& target) const;
    // The two passes of one row y of ApplySeparable, without the scale: the column factors over
    // the rows around y into alongY (a whole row), then the row factors over alongY into the
    // values first ... last - 1 of alongX. A symmetric factor adds mirrored samples first.
    void PassAlongY(const ImageMemory<double>& source, int y, bool symmetric,
                    std::vector<double>& alongY) const;
    void PassAlongX(const std::vector<double>& alongY, int bands, std::size_t first,
                    std::size_t last, bool symmetric, std::vector<double>& alongX) const;

    int sizeX = 0;
    int sizeY = 0;
    std::vector<double> mask;
    // Empty unless the mask is separable.
    std::vector<double> factorX;
    std::vector<double> factorY;
    double factorScale = 1.0;
};

}  // namespace velkar::imageprocessing
