#include "velkar/featureextraction/TextureHistogram2D.h"
#include "velkar/util/InvalidParameter.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

namespace velkar::featureextraction {

TextureHistogram2D::Histogram::Histogram(int displacements, int bands)
    : displacements(displacements),
      bands(bands),
      occupied(static_cast<std::size_t>(displacements) * static_cast<std::size_t>(bands)),
      divisors(static_cast<std::size_t>(displacements), 0.0),
      counts(static_cast<std::size_t>(kLevels) * kLevels, 0) {}

double TextureHistogram2D::Histogram::Cell(int displacement, int band, int a, int c) const {
    if (displacement < 0 || displacement >= displacements || band < 0 || band >= bands || a < 0 ||
        a >= kLevels || c < 0 || c >= kLevels) {
        throw std::out_of_range("no co-occurrence cell [" + std::to_string(displacement) + "][" +
                                std::to_string(band) + "][" + std::to_string(a) + "][" +
                                std::to_string(c) + "]");
    }
    const int low = std::min(a, c);
    const int high = std::max(a, c);
    for (const OccupiedCell& cell : OccupiedCells(displacement, band)) {
        if (cell.a == low && cell.c == high) {
            return Share(displacement, cell);
        }
    }
    return 0.0;
}

TextureHistogram2D::TextureHistogram2D(std::shared_ptr<imageprocessing::ImageFileSystem> image,
                                       int windowSize, std::vector<int> dx, std::vector<int> dy,
                                       int levels)
    : image(std::move(image)),
      levels(levels),
      windowSize(windowSize),
      dx(std::move(dx)),
      dy(std::move(dy)) {
    if (this->levels != kLevels) {
        throw std::invalid_argument(
            "co-occurrence levels are the 8-bit channel values, so there "
            "must be 256 of them, got " +
            std::to_string(levels));
    }
    CheckDisplacements(this->windowSize, this->dx, this->dy);
    if (!this->image) {
        throw std::invalid_argument("a co-occurrence histogram needs an image");
    }
}

void TextureHistogram2D::CheckDisplacements(int windowSize, const std::vector<int>& dx,
                                            const std::vector<int>& dy) {
    using util::InvalidParameter;
    const char* const owner = "TextureHistogram2D";
    const InvalidParameter::Rules rules(owner);
    rules.AtLeast("windowSize", windowSize, 1, "the window size must be at least 1");
    if (dx.empty() || dy.empty()) {
        throw InvalidParameter(owner, dx.empty() ? "dx" : "dy", "an empty list",
                               "at least one displacement is needed");
    }
    if (dy.size() < dx.size()) {
        throw util::InvalidParameter(
            owner, "dy", util::InvalidParameter::Text(dy),
            "it needs at least as many items as {--dx}, which has " + std::to_string(dx.size()));
    }
    // Items of dy past the length of dx pair with nothing. A step that reaches the window size
    // pairs no pixel inside a window.
    const std::string inside = "a displacement must stay inside the window, from " +
                               std::to_string(1 - windowSize) + " to " +
                               std::to_string(windowSize - 1);
    for (const auto& [name, steps] : {std::pair{"dx", &dx}, std::pair{"dy", &dy}}) {
        for (std::size_t k = 0; k < dx.size(); ++k) {
            rules.AtLeast(name, (*steps)[k], 1 - windowSize, inside);
            rules.AtMost(name, (*steps)[k], windowSize - 1, inside);
        }
    }
}

void TextureHistogram2D::InitHistogram(std::unique_ptr<Histogram>& histogram) const {
    histogram.reset(new Histogram(static_cast<int>(dx.size()), image->BandCount()));
}

void TextureHistogram2D::ReleaseHistogram(std::unique_ptr<Histogram>& histogram) const {
    histogram.reset();
}

void TextureHistogram2D::GatherLevels(int left, int top, int width, int height,
                                      Histogram& histogram) const {
    const std::size_t planeSize =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const int bands = histogram.bands;
    histogram.levels.resize(planeSize * static_cast<std::size_t>(bands));
    for (int row = 0; row < height; ++row) {
        const unsigned char* pixels = image->Row(top + row);
        for (int band = 0; band < bands; ++band) {
            std::uint8_t* out = histogram.levels.data() + band * planeSize +
                                static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
            const unsigned char* in = pixels + static_cast<std::ptrdiff_t>(left) * bands + band;
            for (int column = 0; column < width; ++column) {
                out[column] = in[static_cast<std::ptrdiff_t>(column) * bands];
            }
        }
    }
}

void TextureHistogram2D::Calculate(int x, int y, Histogram& histogram) const {
    if (histogram.displacements != static_cast<int>(dx.size()) ||
        histogram.bands != image->BandCount()) {
        throw std::invalid_argument(
            "the histogram holds " + std::to_string(histogram.displacements) +
            " displacements of " + std::to_string(histogram.bands) +
            " bands, this texture needs " + std::to_string(dx.size()) + " of " +
            std::to_string(image->BandCount()));
    }
    for (auto& cells : histogram.occupied) {
        cells.clear();
    }
    std::fill(histogram.divisors.begin(), histogram.divisors.end(), 0.0);

    // Only pixels inside both the window and the image can pair, and a partner must be inside
    // both as well, so everything happens within their intersection.
    const long long left = std::max<long long>(x, 0);
    const long long top = std::max<long long>(y, 0);
    const long long right =
        std::min<long long>(static_cast<long long>(x) + windowSize, image->Width());
    const long long bottom =
        std::min<long long>(static_cast<long long>(y) + windowSize, image->Height());
    if (left >= right || top >= bottom) {
        return;
    }
    const int width = static_cast<int>(right - left);
    const int height = static_cast<int>(bottom - top);
    GatherLevels(static_cast<int>(left), static_cast<int>(top), width, height, histogram);
    for (int k = 0; k < histogram.displacements; ++k) {
        CountPairs(k, width, height, histogram);
    }
}

void TextureHistogram2D::CountPairs(int k, int width, int height, Histogram& histogram) const {
    const std::size_t planeSize =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::uint32_t* counts = histogram.counts.data();
    const int shiftX = dx[static_cast<std::size_t>(k)];
    const int shiftY = dy[static_cast<std::size_t>(k)];
    const int firstColumn = std::max(0, -shiftX);
    const int endColumn = std::min(width, width - shiftX);
    const int firstRow = std::max(0, -shiftY);
    const int endRow = std::min(height, height - shiftY);
    if (firstColumn >= endColumn || firstRow >= endRow) {
        return;
    }
    const double pairs =
        static_cast<double>(endColumn - firstColumn) * static_cast<double>(endRow - firstRow);
    histogram.divisors[static_cast<std::size_t>(k)] = 2.0 * kBandShare * pairs;

    for (int band = 0; band < histogram.bands; ++band) {
        const std::uint8_t* plane = histogram.levels.data() + band * planeSize;
        auto& cells = histogram.occupied[static_cast<std::size_t>(k * histogram.bands + band)];
        // Count in the dense block, noting each cell the first time it is reached.
        for (int row = firstRow; row < endRow; ++row) {
            const std::uint8_t* here = plane + static_cast<std::size_t>(row) * width;
            const std::uint8_t* there =
                plane + static_cast<std::size_t>(row + shiftY) * width + shiftX;
            for (int column = firstColumn; column < endColumn; ++column) {
                const unsigned a = here[column];
                const unsigned c = there[column];
                // Both orders of a pair live in the upper-triangle cell.
                const unsigned low = a <= c ? a : c;
                const unsigned high = a <= c ? c : a;
                if (counts[low * kLevels + high]++ == 0) {
                    cells.push_back(
                        {static_cast<std::uint16_t>(low), static_cast<std::uint16_t>(high), 0});
                }
            }
        }
        // Move the counts into the list, leaving the block all zeros for the next band.
        for (OccupiedCell& cell : cells) {
            std::uint32_t& count = counts[cell.a * kLevels + cell.c];
            cell.pairs = count;
            count = 0;
        }
    }
}

}  // namespace velkar::featureextraction
