#include "velkar/imageprocessing/ConvolutionFilter.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkar/util/Parallel.h"

namespace velkar::imageprocessing {

namespace {

void RequireMaskSize(int sizeX, int sizeY, std::size_t weights) {
    if (sizeX < 0 || sizeY < 0) {
        throw std::invalid_argument("A convolution mask cannot have a negative size: " +
                                    std::to_string(sizeX) + " x " + std::to_string(sizeY));
    }
    if (weights != static_cast<std::size_t>(sizeX) * static_cast<std::size_t>(sizeY)) {
        throw std::invalid_argument("A " + std::to_string(sizeX) + " x " + std::to_string(sizeY) +
                                    " convolution mask needs as many weights, got " +
                                    std::to_string(weights));
    }
}

bool SameShape(const ImageMemory<double>& first, const ImageMemory<double>& second) {
    return first.Width() == second.Width() && first.Height() == second.Height() &&
           first.Bands() == second.Bands();
}

// Copies the pixels of source that the mask cannot cover into target: the rows above and below
// the interior and, inside it, the columns left and right of it.
void CopyBorder(const ImageMemory<double>& source, ImageMemory<double>& target, int halfX,
                int halfY) {
    const int width = source.Width();
    const int height = source.Height();
    const std::size_t rowLength =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(source.Bands());
    for (int y = 0; y < height; ++y) {
        const double* from = source.Data() + source.Index(0, y, 0);
        double* to = target.Data() + target.Index(0, y, 0);
        if (y < halfY || y >= height - halfY || width <= 2 * halfX) {
            std::copy(from, from + rowLength, to);
            continue;
        }
        const std::size_t left = source.Index(halfX, 0, 0);
        const std::size_t right = source.Index(width - halfX, 0, 0);
        std::copy(from, from + left, to);
        std::copy(from + right, from + rowLength, to + right);
    }
}

// A mirror-symmetric factor (a Gaussian's) lets a pass add the two samples of one weight first.
bool IsMirrorSymmetric(const std::vector<double>& factors) {
    return std::equal(factors.begin(), factors.begin() + factors.size() / 2, factors.rbegin());
}

}  // namespace

ConvolutionFilter::ConvolutionFilter(int sizeX, int sizeY, std::vector<double> weights)
    : sizeX(sizeX), sizeY(sizeY), mask(std::move(weights)) {
    RequireMaskSize(sizeX, sizeY, mask.size());
}

void ConvolutionFilter::SetSeparableMask(int newSizeX, int newSizeY, std::vector<double> weights,
                                         std::vector<double> alongX, std::vector<double> alongY,
                                         double scale) {
    RequireMaskSize(newSizeX, newSizeY, weights.size());
    if (alongX.size() != static_cast<std::size_t>(newSizeX) ||
        alongY.size() != static_cast<std::size_t>(newSizeY)) {
        throw std::invalid_argument("The factors of a separable mask must match its size");
    }
    sizeX = newSizeX;
    sizeY = newSizeY;
    mask = std::move(weights);
    factorX = std::move(alongX);
    factorY = std::move(alongY);
    factorScale = scale;
}

void ConvolutionFilter::Convolve(ImageMemory<double>& source, const ConvolutionFilter& filter,
                                 ImageMemory<double>* target) {
    if (target != nullptr && !SameShape(source, *target)) {
        throw std::invalid_argument(
            "The convolution target must have the source's width, height and bands");
    }
    const bool inPlace = target == nullptr || target == &source;
    ImageMemory<double> fresh;
    if (inPlace) {
        fresh = ImageMemory<double>(source.Width(), source.Height(), source.Bands());
    }
    ImageMemory<double>& result = inPlace ? fresh : *target;

    const int halfX = filter.sizeX / 2;
    const int halfY = filter.sizeY / 2;
    CopyBorder(source, result, halfX, halfY);
    if (source.Width() > 2 * halfX && source.Height() > 2 * halfY) {
        if (filter.factorX.empty() && filter.factorY.empty()) {
            filter.ApplyDirect(source, result);
        } else {
            filter.ApplySeparable(source, result);
        }
    }
    if (inPlace) {
        source = std::move(fresh);
    }
}

void ConvolutionFilter::ApplyDirect(const ImageMemory<double>& source,
                                    ImageMemory<double>& target) const {
    const int halfX = sizeX / 2;
    const int halfY = sizeY / 2;
    for (int y = halfY; y < source.Height() - halfY; ++y) {
        for (int x = halfX; x < source.Width() - halfX; ++x) {
            for (int b = 0; b < source.Bands(); ++b) {
                double sum = 0.0;
                for (int l = 0; l < sizeX; ++l) {
                    for (int m = 0; m < sizeY; ++m) {
                        sum += source(x + l - halfX, y + m - halfY, b) * Value(l, m);
                    }
                }
                target(x, y, b) = sum;
            }
        }
    }
}

void ConvolutionFilter::ApplySeparable(const ImageMemory<double>& source,
                                       ImageMemory<double>& target) const {
    const int halfX = sizeX / 2;
    const int halfY = sizeY / 2;
    const int bands = source.Bands();
    const std::size_t rowLength =
        static_cast<std::size_t>(source.Width()) * static_cast<std::size_t>(bands);
    const std::size_t first = static_cast<std::size_t>(halfX) * static_cast<std::size_t>(bands);
    const std::size_t last = rowLength - first;
    const int firstRow = halfY;
    const int endRow = source.Height() - halfY;
    // Rows are independent: bands of rows run as tasks of their own, each with its own buffers.
    constexpr int kRowsPerTask = 32;
    const int tasks = (endRow - firstRow + kRowsPerTask - 1) / kRowsPerTask;
    const bool symmetricX = IsMirrorSymmetric(factorX);
    const bool symmetricY = IsMirrorSymmetric(factorY);
    util::ParallelFor(static_cast<std::size_t>(tasks), [&](std::size_t task) {
        // One row of the pass along y at a time, then the pass along x over it: every inner loop
        // runs over contiguous values.
        std::vector<double> alongY(rowLength);
        std::vector<double> alongX(rowLength);
        const int begin = firstRow + static_cast<int>(task) * kRowsPerTask;
        const int end = std::min(endRow, begin + kRowsPerTask);
        for (int y = begin; y < end; ++y) {
            PassAlongY(source, y, symmetricY, alongY);
            PassAlongX(alongY, bands, first, last, symmetricX, alongX);
            double* out = target.Data() + target.Index(0, y, 0);
            for (std::size_t i = first; i < last; ++i) {
                out[i] = factorScale * alongX[i];
            }
        }
    });
}

void ConvolutionFilter::PassAlongY(const ImageMemory<double>& source, int y, bool symmetric,
                                   std::vector<double>& alongY) const {
    const int halfY = sizeY / 2;
    const std::size_t rowLength = alongY.size();
    std::fill(alongY.begin(), alongY.end(), 0.0);
    for (int m = 0; m < sizeY; ++m) {
        const double weight = factorY[static_cast<std::size_t>(m)];
        const double* row = source.Data() + source.Index(0, y + m - halfY, 0);
        const int mirror = sizeY - 1 - m;
        if (symmetric && mirror > m) {
            // Rows at the same distance above and below share one weight.
            const double* other = source.Data() + source.Index(0, y + mirror - halfY, 0);
            for (std::size_t i = 0; i < rowLength; ++i) {
                alongY[i] += (row[i] + other[i]) * weight;
            }
        } else if (!symmetric || mirror == m) {
            for (std::size_t i = 0; i < rowLength; ++i) {
                alongY[i] += row[i] * weight;
            }
        }
    }
}

void ConvolutionFilter::PassAlongX(const std::vector<double>& alongY, int bands, std::size_t first,
                                   std::size_t last, bool symmetric,
                                   std::vector<double>& alongX) const {
    std::fill(alongX.begin(), alongX.end(), 0.0);
    const std::size_t count = last - first;
    for (int l = 0; l < sizeX; ++l) {
        const double weight = factorX[static_cast<std::size_t>(l)];
        // Target value i reads alongY at i + (l - halfX) * bands.
        const double* from =
            alongY.data() + static_cast<std::size_t>(l) * static_cast<std::size_t>(bands);
        double* to = alongX.data() + first;
        const int mirror = sizeX - 1 - l;
        if (symmetric && mirror > l) {
            const double* other =
                alongY.data() + static_cast<std::size_t>(mirror) * static_cast<std::size_t>(bands);
            for (std::size_t k = 0; k < count; ++k) {
                to[k] += (from[k] + other[k]) * weight;
            }
        } else if (!symmetric || mirror == l) {
            for (std::size_t k = 0; k < count; ++k) {
                to[k] += from[k] * weight;
            }
        }
    }
}

}  // namespace velkar::imageprocessing
