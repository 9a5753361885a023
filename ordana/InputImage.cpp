#include "ordana/InputImage.h"

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "ordana/ProtocolWriter.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace velkar::ordana {

std::shared_ptr<imageprocessing::ImageFileSystem> ReadInputImage(const std::string& path) {
    auto loaded = std::make_shared<imageprocessing::ImageFileSystem>(path);
    if (!loaded->IsLoaded()) {
        const std::string& reason = loaded->LoadError();
        throw InputError("Cannot read the image file '" + EchoedPath(path) + "'" +
                         (reason.empty() ? "" : ": " + reason) + ".");
    }
    if (loaded->BandCount() != 3) {
        // The program reads three bands: the first three of a file of more, the first one
        // three times of a file of two bands that are no grey and alpha.
        try {
            const imageprocessing::RasterFile file(path);
            auto bands = file.ChooseBands(loaded->BandCount() > 3 ? std::vector<int>{1, 2, 3}
                                                                  : std::vector<int>{1, 1, 1});
            file.FillStretches(bands);
            loaded = file.Read(file.Whole(), bands);
        } catch (const imageprocessing::RasterFile::Error& error) {
            throw InputError("Cannot read the image file '" + EchoedPath(path) +
                             "': " + error.Reason() + ".");
        }
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
    if (source.BandCount() != 3) {
        throw InputError("The colour space " + transformation.ShortName() +
                         " needs an image of exactly 3 bands, red, green and blue; the image has " +
                         std::to_string(source.BandCount()) + ".");
    }
    auto copy = imageprocessing::ImageFileSystem::Create("tmpfile.jpg", source.Width(),
                                                         source.Height(), 3);
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
