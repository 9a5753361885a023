#include "velkar/imageprocessing/AbsentPixels.h"

#include <algorithm>

namespace velkar::imageprocessing {

AbsentPixels::AbsentPixels(const ImageFileSystem& image)
    : width(image.Width()), height(image.Height()) {
    if (!image.HasMask()) {
        return;
    }
    bool any = false;
    for (int y = 0; y < image.Height() && !any; ++y) {
        const unsigned char* flags = image.MaskRow(y);
        any = std::any_of(flags, flags + image.Width(), [](unsigned char f) { return f != 0; });
    }
    if (!any) {
        return;
    }
    // The images a region is read into hold at most 2^28 pixels, so 32 bits count them all.
    const std::size_t stride = static_cast<std::size_t>(width) + 1;
    sums.assign(stride * (static_cast<std::size_t>(height) + 1), 0);
    for (int y = 0; y < image.Height(); ++y) {
        const unsigned char* flags = image.MaskRow(y);
        const std::uint32_t* above = sums.data() + static_cast<std::size_t>(y) * stride;
        std::uint32_t* here = sums.data() + static_cast<std::size_t>(y + 1) * stride;
        std::uint32_t row = 0;
        for (int x = 0; x < image.Width(); ++x) {
            row += flags[x] != 0 ? 1 : 0;
            here[x + 1] = above[x + 1] + row;
        }
    }
}

long long AbsentPixels::Count(long long x, long long y, long long w, long long h) const {
    if (sums.empty()) {
        return 0;
    }
    const long long left = std::clamp(x, 0LL, width);
    const long long right = std::clamp(x + std::max(w, 0LL), 0LL, width);
    const long long top = std::clamp(y, 0LL, height);
    const long long bottom = std::clamp(y + std::max(h, 0LL), 0LL, height);
    if (left >= right || top >= bottom) {
        return 0;
    }
    const auto at = [this](long long column, long long row) {
        return static_cast<long long>(sums[static_cast<std::size_t>(row * (width + 1) + column)]);
    };
    return at(right, bottom) - at(left, bottom) - at(right, top) + at(left, top);
}

}  // namespace velkar::imageprocessing
