#include "ordana/InputImage.h"

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "ordana/ProtocolWriter.h"

namespace velkar::ordana {

std::shared_ptr<imageprocessing::ImageFileSystem> ReadInputImage(const std::string& path) {
    auto loaded = std::make_shared<imageprocessing::ImageFileSystem>(path);
    if (!loaded->IsLoaded()) {
        const std::string& reason = loaded->LoadError();
        throw InputError("Cannot read the image file '" + EchoedPath(path) + "'" +
                         (reason.empty() ? "" : ": " + reason) + ".");
    }
    if (loaded->FileBandCount() > 3 || loaded->FileBitsPerSample() > 8) {
        const int bands = loaded->FileBandCount();
        LogMessage("The image file '" + EchoedPath(path) + "' has " + std::to_string(bands) +
                   (bands == 1 ? " band of " : " bands of ") +
                   std::to_string(loaded->FileBitsPerSample()) +
                   " bits; it is read as 8-bit RGB, as every extractor works on three 8-bit "
                   "channels.");
    }
    return loaded;
}

std::shared_ptr<imageprocessing::ImageFileSystem> TransformedImage(
    const imageprocessing::ImageFileSystem& source,
    const imageprocessing::ColorSpaceTransformation& transformation) {
    auto copy = imageprocessing::ImageFileSystem::Create("tmpfile.jpg", source.Width(),
                                                         source.Height(), 24);
    imageprocessing::Pixel in;
    imageprocessing::Pixel out;
    for (int x = 0; x < source.Width(); ++x) {
        for (int y = 0; y < source.Height(); ++y) {
            source.Pixel(x, y, in);
            transformation.ForwardTransformation(in, out);
            copy->SetPixel(x, y, out);
        }
    }
    return copy;
}

}  // namespace velkar::ordana
