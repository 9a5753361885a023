#pragma once

// The images the workflows read: an input file read as 8-bit RGB, and its copy in another colour
// space (every pixel passed through the transformation, the same size as the source).

#include <memory>
#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::ordana {

// The image of an input file; one that cannot be read is rejected with an InputError giving the
// reason. A file of more than three bands or more than 8 bits per sample is reported, once, as
// read as 8-bit RGB.
std::shared_ptr<imageprocessing::ImageFileSystem> ReadInputImage(const std::string& path);

// A copy of the image with every pixel passed through the transformation; an image of other
// than three bands is rejected with an InputError.
std::shared_ptr<imageprocessing::ImageFileSystem> TransformedImage(
    const imageprocessing::ImageFileSystem& source,
    const imageprocessing::ColorSpaceTransformation& transformation);

}  // namespace velkar::ordana
