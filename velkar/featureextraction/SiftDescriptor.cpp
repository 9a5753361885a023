#include "velkar/featureextraction/SiftDescriptor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace velkar::featureextraction {

namespace {

using Image = SiftDescriptor::Image;

constexpr int kDescriptorWindow = SiftDescriptor::kWindow;
constexpr int kDescriptorCells = 4;
constexpr int kDescriptorBins = 8;
constexpr double kDescriptorClamp = 0.2;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;

// A broken angle invariant is a fault of this code, never of the input; it is reported to the
// caller instead of ending the process.
void Check(bool holds, const char* invariant) {
    if (!holds) {
        throw std::logic_error(std::string("scale-invariant feature transform: invariant ") +
                               invariant + " does not hold");
    }
}

// The Gaussian weight of the descriptor's sample cells, centred on the 16 x 16 grid
// (at 7.5, 7.5) with sigma 8, half the window.
const std::vector<double>& DescriptorWeights() {
    static const std::vector<double> weights = [] {
        const double sigma = kDescriptorWindow / 2.0;
        const double centre = (kDescriptorWindow - 1) / 2.0;
        std::vector<double> table(kDescriptorWindow * kDescriptorWindow);
        for (int a = 0; a < kDescriptorWindow; ++a) {
            for (int b = 0; b < kDescriptorWindow; ++b) {
                const double u = a - centre;
                const double v = b - centre;
                table[static_cast<std::size_t>(a * kDescriptorWindow + b)] =
                    std::exp(-(u * u + v * v) / (2.0 * sigma * sigma)) / (kTwoPi * sigma * sigma);
            }
        }
        return table;
    }();
    return weights;
}

}  // namespace

bool SiftDescriptor::Describe(const SiftKeypoint& keypoint, const Image& magnitude,
                              const Image& orientation, std::vector<double>& values) {
    const Samples samples = SampleWindow(keypoint, magnitude, orientation);
    values.assign(kLength, 0.0);
    AddSamples(samples, values);
    return Normalize(values);
}

SiftDescriptor::Samples SiftDescriptor::SampleWindow(const SiftKeypoint& keypoint,
                                                     const Image& magnitude,
                                                     const Image& orientation) {
    const double octaveScale = std::pow(2.0, keypoint.octave);
    const int xl = static_cast<int>(2.0 * keypoint.x / octaveScale);
    const int yl = static_cast<int>(2.0 * keypoint.y / octaveScale);
    const double theta = keypoint.orientation;
    const double cosine = std::cos(theta);
    const double sine = std::sin(theta);
    const std::vector<double>& gaussian = DescriptorWeights();

    Samples samples{};
    const int reach = kDescriptorWindow / 2;
    for (int i = -reach; i <= reach; ++i) {
        for (int j = -reach; j <= reach; ++j) {
            const double u = i * cosine - j * sine;
            const double v = i * sine + j * cosine;
            const int a = static_cast<int>(u + 7.5);
            const int b = static_cast<int>(v + 7.5);
            if (a < 0 || a >= kDescriptorWindow || b < 0 || b >= kDescriptorWindow) {
                continue;
            }
            const int sx = static_cast<int>(xl + u);
            const int sy = static_cast<int>(yl + v);
            // A later sample on the same cell replaces the earlier one.
            if (sx < 1 || sx > magnitude.Width() - 2 || sy < 1 || sy > magnitude.Height() - 2) {
                samples.weight[a][b] = 0.0;
                samples.relative[a][b] = 0.0;
                continue;
            }
            samples.weight[a][b] = gaussian[static_cast<std::size_t>(a * kDescriptorWindow + b)] *
                                   magnitude(sx, sy, keypoint.band);
            double turned = orientation(sx, sy, keypoint.band) - theta;
            if (turned < 0.0) {
                turned += kTwoPi;
            } else if (turned > kTwoPi) {
                turned -= kTwoPi;
            }
            if (!(turned >= 0.0 && turned <= kTwoPi)) {
                std::printf("BAD: %f\n", turned);
            }
            samples.relative[a][b] = turned;
        }
    }
    return samples;
}

void SiftDescriptor::AddSamples(const Samples& samples, std::vector<double>& values) {
    for (int a = 0; a < kDescriptorWindow; ++a) {
        for (int b = 0; b < kDescriptorWindow; ++b) {
            const double turned = samples.relative[a][b];
            if (!(turned >= 0.0 && turned <= kTwoPi)) {
                continue;  // reported when sampled; it has no bin
            }
            Check(turned >= 0 && turned <= 2 * kPi,
                  "rotation_invariant_orientation >= 0 && rotation_invariant_orientation <= 2 * "
                  "PI");
            int degrees = static_cast<int>(turned * 180.0 / kPi);
            // A full turn, reached only by rounding, is the direction 0.
            if (degrees >= 360) {
                degrees = 0;
            }
            Check(degrees < 360, "orientation_deg < 360");
            const int bin = degrees / 45;
            Check(bin < kDescriptorBins, "bin < DESCRIPTOR_BIN_NUMBER");
            // Blocks of 4 x 4 cells, block-column-major: a / 4 outer, b / 4 inner.
            const int block = (a / kDescriptorCells) * kDescriptorCells + b / kDescriptorCells;
            values[static_cast<std::size_t>(block * kDescriptorBins + bin)] +=
                (1.0 - std::abs(degrees / 45.0 - (bin + 0.5))) * samples.weight[a][b];
        }
    }
}

bool SiftDescriptor::Normalize(std::vector<double>& values) {
    auto norm = [&values] {
        double squares = 0.0;
        for (double value : values) {
            squares += value * value;
        }
        return std::sqrt(squares);
    };
    const double first = norm();
    if (!(first > 0.0)) {
        return false;
    }
    for (double& value : values) {
        value = std::min(value / first, kDescriptorClamp);
    }
    const double second = norm();
    for (double& value : values) {
        value /= second;
    }
    return true;
}

}  // namespace velkar::featureextraction
