#pragma once

// An in-memory image of reals: width x height pixels of `bands` values each, pixel-interleaved
// and row by row, so band b of column x, row y (row 0 at the top) is at index
// (x + y * width) * bands + b of Data(). Filled from an 8-bit image, each component is divided
// by 255 and lies in [0, 1]. save_image writes the first three bands of such an image to a file
// for inspection. Element access checks no indices; not thread-safe while written.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::imageprocessing {

template <typename T>
class ImageMemory {
  public:
    ImageMemory() = default;

    // All values start at 0. Negative sizes throw std::invalid_argument.
    ImageMemory(int columns, int rows, int bandCount)
        : width(columns), height(rows), bands(bandCount) {
        if (columns < 0 || rows < 0 || bandCount < 0) {
            throw std::invalid_argument(
                "Image size must not be negative: " + std::to_string(columns) + " x " +
                std::to_string(rows) + " x " + std::to_string(bandCount));
        }
        data.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows) *
                        static_cast<std::size_t>(bandCount),
                    T(0));
    }

    // Copies every pixel of image, each component divided by 255.
    explicit ImageMemory(const ImageFileSystem& image)
        : ImageMemory(image.Width(), image.Height(), image.BandCount()) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int b = 0; b < bands; ++b) {
                    (*this)(x, y, b) = static_cast<T>(image.Pixel(x, y, b)) / T(255);
                }
            }
        }
    }

    ImageMemory(const ImageMemory&) = default;
    ImageMemory& operator=(const ImageMemory&) = default;
    // Moves hand the pixels over without copying them (filters replace whole images).
    ImageMemory(ImageMemory&&) noexcept = default;
    ImageMemory& operator=(ImageMemory&&) noexcept = default;
    virtual ~ImageMemory() = default;

    int Width() const { return width; }
    int Height() const { return height; }
    int Bands() const { return bands; }
    std::size_t Size() const { return data.size(); }

    T* Data() { return data.data(); }
    const T* Data() const { return data.data(); }

    std::size_t Index(int x, int y, int band) const {
        return (static_cast<std::size_t>(x) +
                static_cast<std::size_t>(y) * static_cast<std::size_t>(width)) *
                   static_cast<std::size_t>(bands) +
               static_cast<std::size_t>(band);
    }
    T& operator()(int x, int y, int band) { return data[Index(x, y, band)]; }
    const T& operator()(int x, int y, int band) const { return data[Index(x, y, band)]; }

  private:
    std::vector<T> data;
    int width = 0;
    int height = 0;
    int bands = 0;
};

// Writes memory, which must point to an ImageMemory<double> of at least three bands, as a picture
// of red, green, blue and an opaque alpha band under filename (format from the extension, one
// that holds four bands: PNG or TIFF). Each component is the low byte of the
// truncated 255 * value of bands 0, 1, 2 (red, green, blue). Rows are not flipped: memory row 0
// becomes the bottom row of the saved picture. A failed save is silent; a null pointer or fewer
// than three bands throw std::invalid_argument.
void save_image(void* memory, std::string filename);

}  // namespace velkar::imageprocessing
