#include "velkar/featureextraction/SlidingTextureWindow.h"

#include <cstdlib>
#include <utility>

namespace velkar::featureextraction {

namespace {

constexpr int kChannelOffsets[] = {imageprocessing::ImageFileSystem::kRedOffset,
                                   imageprocessing::ImageFileSystem::kGreenOffset,
                                   imageprocessing::ImageFileSystem::kBlueOffset};

// The level of a band of pixel x in a row of the image's pixels.
inline std::uint8_t Level(const unsigned char* row, int x, int band, int bytesPerPixel) {
    return row[static_cast<std::size_t>(x) * static_cast<std::size_t>(bytesPerPixel) +
               static_cast<std::size_t>(kChannelOffsets[band])];
}

}  // namespace

SlidingTextureWindow::SlidingTextureWindow(int windowSize, std::vector<int> dx, std::vector<int> dy,
                                           int bands)
    : windowSize(windowSize), dx(std::move(dx)), dy(std::move(dy)), bands(bands) {
    for (std::size_t k = 0; k < this->dx.size(); ++k) {
        const int shiftX = this->dx[k];
        const int shiftY = this->dy[k];
        shifts.push_back({std::max(0, -shiftX), windowSize - std::max(0, shiftX),
                          std::max(0, -shiftY), windowSize - std::max(0, shiftY), 0});
    }
}

void SlidingTextureWindow::Load(const imageprocessing::ImageFileSystem& image, int left, int top,
                                int width, int height) {
    this->width = width;
    this->height = height;
    const std::size_t planeSize =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    levels.assign(planeSize * static_cast<std::size_t>(bands), 0);
    const int bytesPerPixel = image.BytesPerPixel();
    for (int row = 0; row < height; ++row) {
        const unsigned char* pixels = image.Row(top + row);
        if (pixels == nullptr) {
            continue;  // a bitmap without 8-bit colour rows reads as black
        }
        for (int band = 0; band < bands; ++band) {
            std::uint8_t* out = levels.data() + static_cast<std::size_t>(band) * planeSize +
                                static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
            for (int column = 0; column < width; ++column) {
                out[column] = Level(pixels, left + column, band, bytesPerPixel);
            }
        }
    }
    for (std::size_t k = 0; k < shifts.size(); ++k) {
        shifts[k].offset = static_cast<std::ptrdiff_t>(dy[k]) * width + dx[k];
    }
    placed = false;
}

}  // namespace velkar::featureextraction
