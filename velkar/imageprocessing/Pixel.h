#pragma once

// One pixel value as it crosses between images and colour-space transformations: four 8-bit
// components and a component count. Images carry the first three components (red, green, blue,
// or a colour space's three channels); the fourth component and the count are written only by
// some transformations (CMYK stores K in the fourth, XYZ sets the count to 3).

#include <cstdint>

namespace velkar::imageprocessing {

struct Pixel {
    std::uint8_t value[4] = {0, 0, 0, 0};
    std::int32_t count = 0;

    std::uint8_t& operator[](int component) { return value[component]; }
    std::uint8_t operator[](int component) const { return value[component]; }
};

}  // namespace velkar::imageprocessing
