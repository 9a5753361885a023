#include "velkar/imageprocessing/GaussianFilter.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkar::imageprocessing {

namespace {

constexpr double kPi = 3.141592653589793;

int AutomaticSize(double sigma) {
    const double extent = 6.0 * sigma - 1.0;
    if (extent >= static_cast<double>(std::numeric_limits<int>::max())) {
        throw std::invalid_argument("A Gaussian mask of sigma " + std::to_string(sigma) +
                                    " is too large");
    }
    // Truncated, then made odd so that the mask has a centre.
    return static_cast<int>(extent) | 1;
}

}  // namespace

GaussianFilter::GaussianFilter(int sizeX, int sizeY, double sigma) : sigma(sigma) {
    if (!std::isfinite(sigma) || sigma <= 0.0) {
        throw std::invalid_argument("The sigma of a Gaussian mask must be a positive number, got " +
                                    std::to_string(sigma));
    }
    if (sizeX < 0 || sizeY < 0) {
        throw std::invalid_argument("A Gaussian mask cannot have a negative size: " +
                                    std::to_string(sizeX) + " x " + std::to_string(sizeY));
    }
    if (sizeX == 0 && sizeY == 0) {
        sizeX = AutomaticSize(sigma);
        sizeY = sizeX;
    }
    const double scale = 1.0 / (2.0 * kPi * sigma * sigma);
    const double spread = 2.0 * sigma * sigma;
    std::vector<double> alongX(static_cast<std::size_t>(sizeX));
    std::vector<double> alongY(static_cast<std::size_t>(sizeY));
    std::vector<double> weights(static_cast<std::size_t>(sizeX) * static_cast<std::size_t>(sizeY));
    for (int i = 0; i < sizeX; ++i) {
        const double u = i - sizeX / 2;
        alongX[static_cast<std::size_t>(i)] = std::exp(-(u * u) / spread);
        for (int j = 0; j < sizeY; ++j) {
            const double v = j - sizeY / 2;
            weights[static_cast<std::size_t>(i) * static_cast<std::size_t>(sizeY) +
                    static_cast<std::size_t>(j)] = scale * std::exp(-(u * u + v * v) / spread);
        }
    }
    for (int j = 0; j < sizeY; ++j) {
        const double v = j - sizeY / 2;
        alongY[static_cast<std::size_t>(j)] = std::exp(-(v * v) / spread);
    }
    SetSeparableMask(sizeX, sizeY, std::move(weights), std::move(alongX), std::move(alongY), scale);
}

}  // namespace velkar::imageprocessing
