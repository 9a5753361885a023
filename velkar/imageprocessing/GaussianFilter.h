#pragma once

// A convolution mask sampled from the two-dimensional Gaussian: the weight of row i and entry j
// is exp(-(u^2 + v^2) / (2 sigma^2)) / (2 pi sigma^2), with u = i - SizeX() / 2 and
// v = j - SizeY() / 2. The mask is not renormalised, so it sums to slightly less than 1 and a
// constant image comes out scaled by that sum away from the border. Sizes 0 x 0 ask for the
// automatic odd size: the integer part of 6 sigma - 1 with its lowest bit set (5 for sigma 1,
// 9 for 1.5, 11 for 2). Applied as two one-dimensional passes (see ConvolutionFilter).

#include "velkar/imageprocessing/ConvolutionFilter.h"

namespace velkar::imageprocessing {

class GaussianFilter : public ConvolutionFilter {
  public:
    // Throws std::invalid_argument for a sigma that is not a positive finite number, negative
    // sizes, or an automatic size that does not fit an int.
    GaussianFilter(int sizeX, int sizeY, double sigma);

    double Sigma() const { return sigma; }

  private:
    double sigma;
};

}  // namespace velkar::imageprocessing
