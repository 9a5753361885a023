#pragma once

// An image in another colour space: every pixel of a three-band image passed through the
// transformation, the same size, mask of absent pixels, origin and georeference as the source.

#include <memory>
#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::ordana {

// An image of other than three bands is rejected with an InputError naming the colour space.
std::shared_ptr<imageprocessing::ImageFileSystem> TransformedImage(
    const imageprocessing::ImageFileSystem& source,
    const imageprocessing::ColorSpaceTransformation& transformation);

// The message that refuses a colour space for an image of bandCount bands.
std::string ColourSpaceBandMessage(const imageprocessing::ColorSpaceTransformation& transformation,
                                   int bandCount);

}  // namespace velkar::ordana
