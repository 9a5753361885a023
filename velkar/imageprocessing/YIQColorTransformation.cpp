#include "velkar/imageprocessing/YIQColorTransformation.h"

namespace velkar::imageprocessing {

namespace {

constexpr double kRgbToYiq[3][3] = {{0.29889531, 0.58662247, 0.11448223},
                                    {0.59597799, -0.2741761, -0.32180189},
                                    {0.21147017, -0.52261711, 0.31114694}};

}  // namespace

void YIQColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    ApplyMatrix(kRgbToYiq, in, out);
}

void YIQColorTransformation::BackwardTransformation(const Pixel&, Pixel&) const {}

std::string YIQColorTransformation::ShortName() const { return "yiq"; }

}  // namespace velkar::imageprocessing
