#include "ordana/InputImage.h"

#include <vector>

#include "ordana/InputError.h"

namespace velkar::ordana {

std::string ColourSpaceBandMessage(const imageprocessing::ColorSpaceTransformation& transformation,
                                   int bandCount) {
    return "The colour space " + transformation.ShortName() +
           " needs an image of exactly 3 bands, red, green and blue; the image has " +
           std::to_string(bandCount) + " (choose three with '--bands').";
}

std::shared_ptr<imageprocessing::ImageFileSystem> TransformedImage(
    const imageprocessing::ImageFileSystem& source,
    const imageprocessing::ColorSpaceTransformation& transformation) {
    if (source.BandCount() != 3) {
        throw InputError(ColourSpaceBandMessage(transformation, source.BandCount()));
    }
    auto copy = imageprocessing::ImageFileSystem::Create(source.Filename(), source.Width(),
                                                         source.Height(), 3);
    imageprocessing::Pixel in;
    imageprocessing::Pixel out;
    for (int y = 0; y < source.Height(); ++y) {
        for (int x = 0; x < source.Width(); ++x) {
            source.Pixel(x, y, in);
            transformation.ForwardTransformation(in, out);
            copy->SetPixel(x, y, out);
        }
    }
    if (source.HasMask()) {
        std::vector<unsigned char> flags;
        flags.reserve(static_cast<std::size_t>(source.Width()) * source.Height());
        for (int y = 0; y < source.Height(); ++y) {
            flags.insert(flags.end(), source.MaskRow(y), source.MaskRow(y) + source.Width());
        }
        copy->SetMask(std::move(flags));
    }
    copy->SetGeoreference(source.GetGeoreference());
    copy->SetOrigin(source.OriginX(), source.OriginY());
    return copy;
}

}  // namespace velkar::ordana
