#include "velkar/featureextraction/SiftProcessingUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkar/featureextraction/SiftDescriptor.h"
#include "velkar/imageprocessing/ConvolutionFilter.h"
#include "velkar/imageprocessing/GaussianFilter.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

using imageprocessing::ConvolutionFilter;
using imageprocessing::GaussianFilter;
using Image = SiftProcessingUnit::Image;

constexpr double kBaseSigma = 1.6;
constexpr double kCurvatureRatio = 20.0;
constexpr double kContrastThreshold = 0.0075;
constexpr int kOrientationBins = 36;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kSmallestScale = 2.220446049250313e-16;
constexpr int kLocalizationRounds = 4;

// A broken angle invariant is a fault of this code, never of the input; it is reported to the
// caller instead of ending the process.
void Check(bool holds, const char* invariant) {
    if (!holds) {
        throw std::logic_error(std::string("scale-invariant feature transform: invariant ") +
                               invariant + " does not hold");
    }
}

// Doubles the size: even positions copy the source, odd ones average their neighbours.
Image Doubled(const Image& source) {
    const int width = source.Width();
    const int height = source.Height();
    Image target(2 * width, 2 * height, source.Bands());
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) {
            for (int b = 0; b < source.Bands(); ++b) {
                const bool oddX = x % 2 == 1;
                const bool oddY = y % 2 == 1;
                double value = 0.0;
                if (!oddX && !oddY) {
                    value = source(x / 2, y / 2, b);
                } else if (oddX && !oddY) {
                    value = (x + 1) / 2 < width
                                ? (source(x / 2, y / 2, b) + source((x + 1) / 2, y / 2, b)) / 2.0
                                : source(x / 2, y / 2, b);
                } else if (!oddX && oddY) {
                    value = (y + 1) / 2 < height
                                ? (source(x / 2, y / 2, b) + source(x / 2, (y + 1) / 2, b)) / 2.0
                                : source(x / 2, y / 2, b);
                } else {
                    value = (target(x, y - 1, b) + target(x - 1, y, b)) / 2.0;
                }
                target(x, y, b) = value;
            }
        }
    }
    return target;
}

Image Halved(const Image& source) {
    Image target(source.Width() / 2, source.Height() / 2, source.Bands());
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) {
            for (int b = 0; b < source.Bands(); ++b) {
                target(x, y, b) = source(2 * x, 2 * y, b);
            }
        }
    }
    return target;
}

Image Difference(const Image& first, const Image& second) {
    Image result(first.Width(), first.Height(), first.Bands());
    for (std::size_t i = 0; i < result.Size(); ++i) {
        result.Data()[i] = first.Data()[i] - second.Data()[i];
    }
    return result;
}

// The arc tangent of dy / dx, in -pi/2 ... pi/2; a flat spot (dx = dy = 0) has orientation 0.
double GradientOrientation(double dy, double dx) {
    if (dx == 0.0) {
        return dy > 0.0 ? kPi / 2.0 : (dy < 0.0 ? -kPi / 2.0 : 0.0);
    }
    return std::atan(dy / dx);
}

// Whether the value at (x, y, b) is strictly above all 26 neighbours in the three images, or
// strictly below all of them. The eight neighbours in the same image come first: they reject
// most pixels.
bool IsExtremum(const Image& below, const Image& current, const Image& above, int x, int y, int b) {
    const std::size_t index = current.Index(x, y, b);
    const auto column = static_cast<std::ptrdiff_t>(current.Bands());
    const auto row = column * current.Width();
    const std::ptrdiff_t around[8] = {-row - column, -row,         -row + column, -column,
                                      column,        row - column, row,           row + column};
    const double* centre = current.Data() + index;
    const double value = *centre;
    const bool maximum = value > centre[-column];
    auto beyond = [&](double neighbour) { return maximum ? value > neighbour : value < neighbour; };
    for (std::ptrdiff_t offset : around) {
        if (!beyond(centre[offset])) {
            return false;
        }
    }
    for (const Image* image : {&below, &above}) {
        const double* middle = image->Data() + index;
        if (!beyond(*middle)) {
            return false;
        }
        for (std::ptrdiff_t offset : around) {
            if (!beyond(middle[offset])) {
                return false;
            }
        }
    }
    return true;
}

// The direction in -pi ... pi of the orientation-histogram peak at bin k, refined by the
// parabola through it and its two neighbours.
double PeakOrientation(const std::vector<double>& histogram, int k) {
    const double value = histogram[static_cast<std::size_t>(k)];
    const double left =
        histogram[static_cast<std::size_t>((k + kOrientationBins - 1) % kOrientationBins)];
    const double right = histogram[static_cast<std::size_t>((k + 1) % kOrientationBins)];
    // The parabola through (k - 1, left), (k, value), (k + 1, right), solved around k: the
    // three-point form needs no matrix inverse, which is singular without pivoting for
    // k = 0 and k = 1. A flat parabola has no vertex; the peak stays at k.
    const double curvature = (left - 2.0 * value + right) / 2.0;
    const double slope = (right - left) / 2.0;
    double peak = curvature != 0.0 ? k - slope / (2.0 * curvature) : k;
    if (!std::isfinite(peak) || std::abs(peak) > 2.0 * kOrientationBins) {
        peak = k;
    }
    peak = std::fmod(peak, static_cast<double>(kOrientationBins));
    if (peak < 0.0) {
        peak += kOrientationBins;
    }
    if (peak >= kOrientationBins) {
        peak = 0.0;  // -tiny + 36 rounds to a full turn, which is the direction 0
    }
    double turned = peak * kTwoPi / kOrientationBins;
    if (turned >= kTwoPi) {
        turned = 0.0;
    }
    Check(turned >= 0 && turned < kTwoPi, "x0_n >= 0 && x0_n < 2*PI");
    turned -= kPi;
    Check(turned >= -kPi && turned < kPi, "x0_n >= -PI && x0_n < PI");
    return turned;
}

}  // namespace

SiftProcessingUnit::SiftProcessingUnit(const Image& image, int octaves, int intervals)
    : octaves(octaves), intervals(intervals), bands(image.Bands()) {
    if (octaves < 1 || intervals < 1) {
        throw std::invalid_argument("A scale space needs at least 1 octave and 1 interval, got " +
                                    std::to_string(octaves) + " and " + std::to_string(intervals));
    }
    levels.assign(static_cast<std::size_t>(octaves), {});
    sigmas.assign(static_cast<std::size_t>(octaves), {});
    differences.assign(static_cast<std::size_t>(octaves), {});

    Image smoothed = image;
    ConvolutionFilter::Convolve(smoothed, GaussianFilter(0, 0, 0.5));
    Image base = Doubled(smoothed);
    ConvolutionFilter::Convolve(base, GaussianFilter(0, 0, std::sqrt(1.56)));
    levels[0].push_back(std::move(base));
}

void SiftProcessingUnit::GenerateOctavesAndIntervals() {
    const double step = std::pow(2.0, 1.0 / intervals);
    const int levelCount = intervals + 3;
    for (int o = 0; o < octaves; ++o) {
        auto& octaveLevels = levels[static_cast<std::size_t>(o)];
        auto& octaveSigmas = sigmas[static_cast<std::size_t>(o)];
        auto& octaveDifferences = differences[static_cast<std::size_t>(o)];
        octaveLevels.resize(1);
        octaveSigmas.assign(1, kBaseSigma);
        octaveDifferences.clear();
        for (int i = 1; i < levelCount; ++i) {
            octaveSigmas.push_back(octaveSigmas.back() * step);
            // Every level is smoothed from level 0, not from the level before.
            Image level(octaveLevels[0].Width(), octaveLevels[0].Height(), bands);
            ConvolutionFilter::Convolve(octaveLevels[0], GaussianFilter(0, 0, octaveSigmas.back()),
                                        &level);
            octaveLevels.push_back(std::move(level));
            octaveDifferences.push_back(Difference(octaveLevels[static_cast<std::size_t>(i - 1)],
                                                   octaveLevels[static_cast<std::size_t>(i)]));
        }
        if (o + 1 < octaves) {
            std::size_t closest = 0;
            for (std::size_t i = 1; i < octaveSigmas.size(); ++i) {
                if (std::abs(octaveSigmas[i] - 2.0 * kBaseSigma) <
                    std::abs(octaveSigmas[closest] - 2.0 * kBaseSigma)) {
                    closest = i;
                }
            }
            levels[static_cast<std::size_t>(o + 1)].assign(1, Halved(octaveLevels[closest]));
        }
    }
}

void SiftProcessingUnit::FindExtrema() {
    // One task per octave, difference image and band; their keypoints are joined in that order,
    // so the result does not depend on the number of threads.
    struct Task {
        int octave;
        int difference;
        int band;
    };
    std::vector<Task> tasks;
    for (int o = 0; o < octaves; ++o) {
        for (int d = 1; d <= intervals; ++d) {
            for (int b = 0; b < bands; ++b) {
                tasks.push_back({o, d, b});
            }
        }
    }
    std::vector<KeypointList> found(tasks.size());
    util::ParallelFor(tasks.size(), [&](std::size_t index) {
        const auto [o, d, b] = tasks[index];
        const auto& octaveDifferences = differences[static_cast<std::size_t>(o)];
        const Image& below = octaveDifferences[static_cast<std::size_t>(d - 1)];
        const Image& current = octaveDifferences[static_cast<std::size_t>(d)];
        const Image& above = octaveDifferences[static_cast<std::size_t>(d + 1)];
        for (int y = 1; y < current.Height() - 1; ++y) {
            for (int x = 1; x < current.Width() - 1; ++x) {
                if (std::abs(current(x, y, b)) < kContrastThreshold ||
                    !IsExtremum(below, current, above, x, y, b)) {
                    continue;
                }
                auto keypoint = std::make_shared<SiftKeypoint>(x, y);
                keypoint->level = d;
                keypoint->octave = o;
                keypoint->band = b;
                if (!IsGoodLocalizationAndCurvature(b, kLocalizationRounds, *keypoint, below,
                                                    current, above)) {
                    continue;
                }
                const double scale =
                    kBaseSigma *
                    std::pow(2.0, (keypoint->level + keypoint->intervalOffset) / intervals);
                if (!(std::abs(scale) > kSmallestScale)) {
                    continue;
                }
                keypoint->scale = scale;
                found[index].push_back(keypoint);
            }
        }
    });
    keypoints.clear();
    for (KeypointList& list : found) {
        keypoints.insert(keypoints.end(), list.begin(), list.end());
    }
}

math::Matrix<double> SiftProcessingUnit::AdjustPointLocalization(
    int band, const SiftKeypoint& keypoint, const Image& below, const Image& current,
    const Image& above, double& dotGradient) const {
    const int x = static_cast<int>(keypoint.x);
    const int y = static_cast<int>(keypoint.y);
    const int b = band;
    const double centre = current(x, y, b);

    // Derivatives in the order (level, y, x).
    math::Matrix<double> gradient(3, 1);
    gradient(0, 0) = (above(x, y, b) - below(x, y, b)) / 2.0;
    gradient(1, 0) = (current(x, y + 1, b) - current(x, y - 1, b)) / 2.0;
    gradient(2, 0) = (current(x + 1, y, b) - current(x - 1, y, b)) / 2.0;

    math::Matrix<double> hessian(3, 3);
    hessian(0, 0) = above(x, y, b) - 2.0 * centre + below(x, y, b);
    hessian(1, 1) = current(x, y + 1, b) - 2.0 * centre + current(x, y - 1, b);
    hessian(2, 2) = current(x + 1, y, b) - 2.0 * centre + current(x - 1, y, b);
    hessian(0, 1) = hessian(1, 0) =
        (above(x, y + 1, b) - above(x, y - 1, b) - below(x, y + 1, b) + below(x, y - 1, b)) / 4.0;
    hessian(0, 2) = hessian(2, 0) =
        (above(x + 1, y, b) - above(x - 1, y, b) - below(x + 1, y, b) + below(x - 1, y, b)) / 4.0;
    hessian(1, 2) = hessian(2, 1) = (current(x + 1, y + 1, b) - current(x - 1, y + 1, b) -
                                     current(x + 1, y - 1, b) + current(x - 1, y - 1, b)) /
                                    4.0;

    math::Matrix<double> offset = -1.0 * gradient;
    hessian.Solve(offset);
    dotGradient = offset.DotProduct(gradient);
    return offset;
}

bool SiftProcessingUnit::IsGoodLocalizationAndCurvature(int band, int iterations,
                                                        SiftKeypoint& keypoint, const Image& below,
                                                        const Image& current,
                                                        const Image& above) const {
    bool converged = false;
    for (int round = 0; round < iterations && !converged; ++round) {
        if (keypoint.level < 1 || keypoint.level > intervals || !(keypoint.x > 0) ||
            !(keypoint.x < current.Width() - 1) || !(keypoint.y > 0) ||
            !(keypoint.y < current.Height() - 1)) {
            return false;
        }
        double dotGradient = 0.0;
        const math::Matrix<double> offset =
            AdjustPointLocalization(band, keypoint, below, current, above, dotGradient);
        const double levelOffset = offset(0, 0);
        const double yOffset = offset(1, 0);
        const double xOffset = offset(2, 0);
        // A flat neighbourhood makes the quadratic singular: its offsets are not numbers and
        // the point has no stable position.
        if (!std::isfinite(levelOffset) || !std::isfinite(yOffset) || !std::isfinite(xOffset)) {
            return false;
        }
        if (std::abs(xOffset) > 0.5 || std::abs(yOffset) > 0.5) {
            if (xOffset * xOffset + yOffset * yOffset > 2.0) {
                return false;
            }
            keypoint.x = static_cast<int>(keypoint.x + xOffset + 0.5);
            keypoint.y = static_cast<int>(keypoint.y + yOffset + 0.5);
            continue;
        }
        // The level is never moved as x and y are: an extremum more than half a level away is
        // not this level's, and a near-singular quadratic puts it arbitrarily far (a scale of
        // 516 for an offset of 24, and an orientation mask to match).
        if (std::abs(levelOffset) > 0.5) {
            return false;
        }
        keypoint.intervalOffset = levelOffset;
        keypoint.contrast =
            current(static_cast<int>(keypoint.x), static_cast<int>(keypoint.y), band) +
            0.5 * dotGradient;
        converged = true;
    }
    if (!converged) {
        return false;
    }

    const int x = static_cast<int>(keypoint.x);
    const int y = static_cast<int>(keypoint.y);
    const double centre = current(x, y, band);
    const double dxx = current(x + 1, y, band) - 2.0 * centre + current(x - 1, y, band);
    const double dyy = current(x, y + 1, band) - 2.0 * centre + current(x, y - 1, band);
    const double dxy = (current(x - 1, y - 1, band) + current(x + 1, y + 1, band) -
                        current(x - 1, y + 1, band) - current(x + 1, y - 1, band)) /
                       4.0;
    const double trace = dxx + dyy;
    const double determinant = dxx * dyy - dxy * dxy;
    // A zero determinant gives an infinite (or undefined) ratio, which the limit rejects.
    if (!(determinant > 0.0)) {
        return false;
    }
    const double limit = (kCurvatureRatio + 1.0) * (kCurvatureRatio + 1.0) / kCurvatureRatio;
    return trace * trace / determinant <= limit;
}

void SiftProcessingUnit::CalculateMagnitudesAndOrientations() {
    // Only the levels that hold keypoints are ever read, so only they are computed; the others
    // stay empty images.
    magnitudes.assign(static_cast<std::size_t>(octaves),
                      std::vector<Image>(static_cast<std::size_t>(intervals + 1)));
    orientations = magnitudes;
    std::vector<std::pair<int, int>> needed;
    for (const auto& keypoint : keypoints) {
        const std::pair<int, int> level{keypoint->octave, keypoint->level};
        if (std::find(needed.begin(), needed.end(), level) == needed.end()) {
            needed.push_back(level);
        }
    }
    util::ParallelFor(needed.size(), [&](std::size_t index) {
        const auto [o, l] = needed[index];
        const Image& level = Level(o, l);
        Image magnitude(level.Width(), level.Height(), bands);
        Image orientation(level.Width(), level.Height(), bands);
        for (int y = 1; y < level.Height() - 1; ++y) {
            for (int x = 1; x < level.Width() - 1; ++x) {
                for (int b = 0; b < bands; ++b) {
                    const double dy = level(x, y + 1, b) - level(x, y - 1, b);
                    const double dx = level(x + 1, y, b) - level(x - 1, y, b);
                    magnitude(x, y, b) = std::sqrt(dy * dy + dx * dx);
                    orientation(x, y, b) = GradientOrientation(dy, dx);
                }
            }
        }
        const auto slot = static_cast<std::size_t>(l - 1);
        magnitudes[static_cast<std::size_t>(o)][slot] = std::move(magnitude);
        orientations[static_cast<std::size_t>(o)][slot] = std::move(orientation);
    });
}

void SiftProcessingUnit::FindKeypoints() {
    orientedKeypoints.clear();
    for (const auto& keypoint : keypoints) {
        AssignOrientations(*keypoint);
    }
}

void SiftProcessingUnit::AssignOrientations(const SiftKeypoint& keypoint) {
    const std::vector<double> histogram = OrientationHistogram(keypoint);
    const double largest = *std::max_element(histogram.begin(), histogram.end());
    // Without any gradient around it the point has no orientation to give.
    if (!(largest > 0.0)) {
        return;
    }
    const int x = static_cast<int>(keypoint.x);
    const int y = static_cast<int>(keypoint.y);
    for (int k = 0; k < kOrientationBins; ++k) {
        const double value = histogram[static_cast<std::size_t>(k)];
        if (value < 0.8 * largest) {
            continue;
        }
        const int scaleUp = 1 << keypoint.octave;
        auto oriented = std::make_shared<SiftKeypoint>(scaleUp * x / 2, scaleUp * y / 2);
        oriented->orientation = PeakOrientation(histogram, k);
        oriented->magnitude = value;
        oriented->level = keypoint.level;
        oriented->octave = keypoint.octave;
        oriented->band = keypoint.band;
        oriented->scale = keypoint.scale;
        oriented->contrast = keypoint.contrast;
        oriented->intervalOffset = keypoint.intervalOffset;
        orientedKeypoints.push_back(oriented);
    }
}

std::vector<double> SiftProcessingUnit::OrientationHistogram(const SiftKeypoint& keypoint) const {
    const GaussianFilter mask(0, 0, 1.5 * keypoint.scale);
    const int half = mask.SizeX() / 2;
    const auto index = static_cast<std::size_t>(keypoint.level - 1);
    const Image& magnitude = magnitudes[static_cast<std::size_t>(keypoint.octave)][index];
    const Image& orientation = orientations[static_cast<std::size_t>(keypoint.octave)][index];
    const int x = static_cast<int>(keypoint.x);
    const int y = static_cast<int>(keypoint.y);

    std::vector<double> histogram(kOrientationBins, 0.0);
    for (int i = -half; i <= half; ++i) {
        for (int j = -half; j <= half; ++j) {
            const int sx = x + i;
            const int sy = y + j;
            if (sx < 0 || sy < 0 || sx >= magnitude.Width() || sy >= magnitude.Height()) {
                continue;
            }
            const double theta = orientation(sx, sy, keypoint.band);
            if (!(theta > -kPi && theta <= kPi)) {
                std::printf("Bad Orientation: %f\n", theta);
                continue;
            }
            const int bin = static_cast<int>(((theta + kPi) * 180.0 / kPi) / 10.0);
            // theta = pi is the direction -pi: bin 36 is bin 0.
            histogram[static_cast<std::size_t>(bin % kOrientationBins)] +=
                magnitude(sx, sy, keypoint.band) * mask.Value(i + half, j + half);
        }
    }
    return histogram;
}

void SiftProcessingUnit::ExtractKeypointDescriptors() {
    describedKeypoints.clear();
    descriptors.clear();
    std::vector<double> values;
    for (const auto& keypoint : orientedKeypoints) {
        const auto octave = static_cast<std::size_t>(keypoint->octave);
        const auto index = static_cast<std::size_t>(keypoint->level - 1);
        if (SiftDescriptor::Describe(*keypoint, magnitudes[octave][index],
                                     orientations[octave][index], values)) {
            describedKeypoints.push_back(keypoint);
            descriptors.push_back(values);
        }
    }
}

void SiftProcessingUnit::DestroyMagnitudesAndOrientations() {
    magnitudes.clear();
    orientations.clear();
}

std::vector<std::shared_ptr<Descriptor>> SiftProcessingUnit::Descriptors() const {
    std::vector<std::shared_ptr<Descriptor>> result;
    for (std::size_t n = 0; n < descriptors.size(); ++n) {
        auto descriptor = std::make_shared<Descriptor>(descriptors[n]);
        descriptor->SetBand(describedKeypoints[n]->band);
        descriptor->SetX(static_cast<int>(describedKeypoints[n]->x));
        descriptor->SetY(static_cast<int>(describedKeypoints[n]->y));
        result.push_back(descriptor);
    }
    return result;
}

const Image& SiftProcessingUnit::Level(int octave, int level) const {
    return levels.at(static_cast<std::size_t>(octave)).at(static_cast<std::size_t>(level));
}

double SiftProcessingUnit::Sigma(int octave, int level) const {
    return sigmas.at(static_cast<std::size_t>(octave)).at(static_cast<std::size_t>(level));
}

}  // namespace velkar::featureextraction
