#pragma once

// An image of palette indices, one byte per pixel, for pictures of classes: pixel (x, y) (column
// x from the left, row y from the top) shows palette colour Index(x, y). Every pixel starts at
// index 0; the palette holds up to 256 red, green, blue triples, missing entries are black.
// EncodePng gives the picture as the bytes of a paletted PNG file.

#include <array>
#include <cstddef>
#include <vector>

namespace velkar::imageprocessing {

class IndexedImage {
  public:
    using Colour = std::array<unsigned char, 3>;

    // Negative sizes throw std::invalid_argument.
    IndexedImage(int width, int height);

    int Width() const { return width; }
    int Height() const { return height; }

    // At most 256 colours (std::invalid_argument otherwise).
    void SetPalette(std::vector<Colour> colours);
    // Sets the rectangle of w x h pixels at (x, y) to index; the part outside the image is left.
    void Fill(int x, int y, int w, int h, unsigned char index);
    unsigned char Index(int x, int y) const;
    // The Width() indices of row y; y must lie inside the picture.
    const unsigned char* Row(int y) const {
        return indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    }

    // Throws std::runtime_error when the image library cannot encode the picture.
    std::vector<unsigned char> EncodePng() const;

  private:
    int width;
    int height;
    std::vector<unsigned char> indices;
    std::vector<Colour> palette;
};

}  // namespace velkar::imageprocessing
