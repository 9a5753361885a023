// Feeds arbitrary bytes to the image readers through a file: ImageFileSystem's load of the
// default bands, and RasterFile's reading from the top of every file band as its samples. Either
// the file is refused with a reason, or the image keeps its promises: a size within the pixel
// limit, rows and a mask of that size, as many bands as asked for.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "TemporaryFile.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace {

using fuzzing::TemporaryFile;
using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::RasterFile;

const std::string& InputPath() {
    static const TemporaryFile input("image-fuzz");
    return input.path;
}

void Check(const ImageFileSystem& image, int bands) {
    if (static_cast<long long>(image.Width()) * image.Height() > ImageFileSystem::kMaxPixelCount ||
        image.BandCount() != bands) {
        __builtin_trap();
    }
    unsigned sum = 0;
    for (int y = 0; y < image.Height(); ++y) {
        const unsigned char* row = image.Row(y);
        const unsigned char* mask = image.MaskRow(y);
        if (row == nullptr || image.HasMask() != (mask != nullptr)) {
            __builtin_trap();
        }
        // Every level and flag is read, so a row shorter than promised is found.
        sum += std::accumulate(row, row + static_cast<std::size_t>(image.Width()) * bands, 0u);
        if (mask != nullptr) {
            sum += std::accumulate(mask, mask + image.Width(), 0u);
        }
    }
    if (image.Row(image.Height()) != nullptr || sum == 0xffffffffu) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const ImageFileSystem loaded(InputPath());
    if (loaded.IsLoaded()) {
        Check(loaded, loaded.BandCount());
    } else if (loaded.LoadError().empty()) {
        __builtin_trap();
    }
    try {
        if (!ImageFileSystem::ProblemBeforeOpening(InputPath()).empty()) {
            return 0;
        }
        const RasterFile file(InputPath());
        if (!ImageFileSystem::ProblemOfOpened(file).empty()) {
            return 0;
        }
        std::vector<int> numbers(static_cast<std::size_t>(file.BandCount()));
        std::iota(numbers.begin(), numbers.end(), 1);
        if (numbers.empty()) {
            return 0;
        }
        auto bands = file.ChooseBands(numbers);
        file.FillStretches(bands);
        file.ReadFromTop(bands, [&](const ImageFileSystem& strip) {
            if (strip.Width() != file.Width() || strip.OriginX() != 0) {
                __builtin_trap();
            }
            Check(strip, static_cast<int>(bands.size()));
        });
    } catch (const RasterFile::Error&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
