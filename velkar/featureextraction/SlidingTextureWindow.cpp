#include "velkar/featureextraction/SlidingTextureWindow.h"

#include <cstdlib>
#include <utility>

namespace velkar::featureextraction {

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
    // The image holds bands levels a pixel, interleaved; the grid lies inside it.
    const std::size_t stride = static_cast<std::size_t>(bands);
    for (int row = 0; row < height; ++row) {
        const unsigned char* pixels = image.Row(top + row);
        if (pixels == nullptr) {
            continue;  // rows outside the image read as black
        }
        pixels += static_cast<std::size_t>(left) * stride;
        for (int band = 0; band < bands; ++band) {
            std::uint8_t* out = levels.data() + static_cast<std::size_t>(band) * planeSize +
                                static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
            const unsigned char* in = pixels + band;
            for (int column = 0; column < width; ++column) {
                out[column] = in[static_cast<std::size_t>(column) * stride];
            }
        }
    }
    for (std::size_t k = 0; k < shifts.size(); ++k) {
        shifts[k].offset = static_cast<std::ptrdiff_t>(dy[k]) * width + dx[k];
    }
    placed = false;
}

}  // namespace velkar::featureextraction
