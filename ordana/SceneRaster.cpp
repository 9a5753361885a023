#include "ordana/SceneRaster.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "ordana/OptionDescription.h"

namespace velkar::ordana {

namespace {

using imageprocessing::ImageFileSystem;

bool IsPicture(const std::string& format) {
    return format == "PNG" || format == "JPEG" || format == "GIF" || format == "BMP";
}

InputError CannotRead(const std::string& path, const std::string& reason) {
    return InputError("Cannot read the image file '" + EchoedPath(path) + "'" +
                      (reason.empty() ? "" : ": " + reason) + ".");
}

// The rectangle of a whole image as an image of its own, with its origin in the file.
std::shared_ptr<ImageFileSystem> Cut(const ImageFileSystem& whole,
                                     const RasterFile::Rectangle& area) {
    const int bands = whole.BandCount();
    auto part = ImageFileSystem::Create(whole.Filename(), area.width, area.height, bands);
    const std::size_t length = static_cast<std::size_t>(area.width) * bands;
    std::vector<unsigned char> absent;
    if (whole.HasMask()) {
        absent.resize(static_cast<std::size_t>(area.width) * area.height);
    }
    for (int y = 0; y < area.height; ++y) {
        std::memcpy(part->Row(y),
                    whole.Row(area.y + y) + static_cast<std::size_t>(area.x) * bands, length);
        if (!absent.empty()) {
            std::memcpy(absent.data() + static_cast<std::size_t>(y) * area.width,
                        whole.MaskRow(area.y + y) + area.x, static_cast<std::size_t>(area.width));
        }
    }
    part->SetMask(std::move(absent));
    part->SetGeoreference(whole.GetGeoreference());
    part->SetOrigin(whole.OriginX() + area.x, whole.OriginY() + area.y);
    return part;
}

std::string BandCountText(int count) {
    return std::to_string(count) + (count == 1 ? " band" : " bands");
}

}  // namespace

std::string ShortestText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::vector<int> ParseBandList(const std::string& text) {
    std::vector<int> numbers;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        int number = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), number);
        if (item.empty() || error != std::errc() || end != item.data() + item.size() ||
            number < 1) {
            throw InputError(RejectionMessage(
                {"bands"}, {text}, "a list of band numbers from 1, separated by commas, such as 4,3,2"));
        }
        numbers.push_back(number);
        if (comma == std::string::npos) {
            return numbers;
        }
        start = comma + 1;
    }
}

RasterFile::Stretch ParseStretch(const std::string& text) {
    const std::size_t comma = text.find(',');
    RasterFile::Stretch stretch;
    bool read = comma != std::string::npos;
    if (read) {
        const char* first = text.data();
        const char* middle = text.data() + comma;
        const char* last = text.data() + text.size();
        const auto low = std::from_chars(first, middle, stretch.low);
        const auto high = std::from_chars(middle + 1, last, stretch.high);
        read = low.ec == std::errc() && low.ptr == middle && high.ec == std::errc() &&
               high.ptr == last;
    }
    if (!read || !std::isfinite(stretch.low) || !std::isfinite(stretch.high) ||
        stretch.low > stretch.high) {
        throw InputError(RejectionMessage({"stretch"}, {text},
                                          "two numbers LOW,HIGH, LOW not above HIGH, such as "
                                          "100,3000"));
    }
    return stretch;
}

BandRequest BandRequestOf(const std::optional<std::string>& bands,
                          const std::optional<std::string>& stretch) {
    BandRequest request;
    if (bands) {
        request.numbers = ParseBandList(*bands);
    }
    if (stretch) {
        request.stretch = ParseStretch(*stretch);
    }
    return request;
}

BandRequest RecordedBands(const SceneRaster& scene) {
    BandRequest record;
    if (scene.IsPlain()) {
        return record;
    }
    record.numbers = scene.BandNumbers();
    std::vector<std::optional<RasterFile::Stretch>> stretches;
    for (const RasterFile::OutputBand& band : scene.Bands()) {
        stretches.push_back(band.stretch);
    }
    if (std::any_of(stretches.begin(), stretches.end(),
                    [](const auto& stretch) { return stretch.has_value(); })) {
        record.stretches = std::move(stretches);
    }
    return record;
}

SceneRaster::SceneRaster(std::string name, const BandRequest& request, bool decodeInBackground)
    : path(std::move(name)) {
    const std::string format = RasterFile::FormatOf(path);
    const bool picture = IsPicture(format);
    // The checks of a picture from its header, before anything else reads it.
    if (picture) {
        if (const std::string problem = ImageFileSystem::ProblemBeforeOpening(path);
            !problem.empty()) {
            throw CannotRead(path, problem);
        }
    }
    try {
        file = std::make_unique<RasterFile>(path);
    } catch (const RasterFile::Error& error) {
        throw CannotRead(path, error.Reason());
    }
    if (picture) {
        if (const std::string problem = ImageFileSystem::ProblemOfOpened(*file); !problem.empty()) {
            throw CannotRead(path, problem);
        }
    }
    std::vector<int> defaultNumbers;
    for (const RasterFile::OutputBand& band : file->DefaultBands()) {
        defaultNumbers.push_back(band.fileBand);
    }
    if (request.numbers && *request.numbers == defaultNumbers) {
        // The default bands by number ("1,1,1" of a grey or palette file): a palette then
        // still gives its colours.
        bands = file->DefaultBands();
    } else if (request.numbers) {
        try {
            bands = file->ChooseBands(*request.numbers);
        } catch (const std::invalid_argument&) {
            const auto missing = std::find_if(
                request.numbers->begin(), request.numbers->end(),
                [this](int number) { return number < 1 || number > file->BandCount(); });
            throw BandError("band " + std::to_string(missing == request.numbers->end() ? 0 : *missing) +
                            " does not exist: '" + EchoedPath(path) + "' has " +
                            BandCountText(file->BandCount()));
        }
    } else {
        bands = file->DefaultBands();
    }
    if (request.stretches && request.stretches->size() != bands.size()) {
        throw BandError(std::to_string(request.stretches->size()) +
                        " stretches do not fit the " + BandCountText(BandCount()) + " read");
    }
    for (std::size_t b = 0; b < bands.size(); ++b) {
        if (request.stretch) {
            bands[b].stretch = request.stretch;
        } else if (request.stretches) {
            bands[b].stretch = (*request.stretches)[b];
        }
    }
    plain = !request.numbers && bands.size() == 3 &&
            std::none_of(bands.begin(), bands.end(),
                         [this](const RasterFile::OutputBand& band) {
                             return band.stretch || file->Band(band.fileBand).IsDeep();
                         });
    try {
        file->FillStretches(bands);
        const long long levels = static_cast<long long>(Width()) * Height() * BandCount();
        if (picture && levels <= kHeldPictureLevels) {
            whole = file->ReadWhole(bands);
        } else if (picture && decodeInBackground && format != "JPEG") {
            decodedFile = std::make_unique<imageprocessing::DecodedRasterFile>(
                *file, bands, imageprocessing::DecodedRasterFile::InBackground{});
        } else if (picture) {
            decodedFile = std::make_unique<imageprocessing::DecodedRasterFile>(*file, bands);
            // A JPEG's file keeps its decoded samples while open; reopened, it holds none.
            if (format == "JPEG") {
                file = std::make_unique<RasterFile>(path);
            }
        }
    } catch (const RasterFile::Error& error) {
        throw CannotRead(path, error.Reason());
    } catch (const std::bad_alloc&) {
        throw CannotRead(path, "there is not enough memory for its pixels");
    }
}

std::vector<int> SceneRaster::BandNumbers() const {
    std::vector<int> numbers;
    for (const RasterFile::OutputBand& band : bands) {
        numbers.push_back(band.fileBand);
    }
    return numbers;
}

std::string SceneRaster::Description() const {
    std::string text = "bands ";
    for (std::size_t b = 0; b < bands.size(); ++b) {
        text += (b == 0 ? "" : ", ") + std::to_string(bands[b].fileBand);
    }
    text += " of " + std::to_string(file->BandCount());
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const RasterFile::OutputBand& band = bands[b];
        // A band used more than once with the same stretch is named once.
        const bool named =
            std::find(bands.begin(), bands.begin() + static_cast<std::ptrdiff_t>(b), band) !=
            bands.begin() + static_cast<std::ptrdiff_t>(b);
        if (band.stretch && !named) {
            text += ", band " + std::to_string(band.fileBand) + " stretched from " +
                    ShortestText(band.stretch->low) + " to " + ShortestText(band.stretch->high);
        }
    }
    return text;
}

std::shared_ptr<ImageFileSystem> SceneRaster::Read(const RasterFile::Rectangle& area) const {
    if (whole) {
        // All of a picture is the picture itself, which readers only read: no copy is made.
        if (area.x == 0 && area.y == 0 && area.width == whole->Width() &&
            area.height == whole->Height()) {
            return whole;
        }
        return Cut(*whole, area);
    }
    try {
        return decodedFile ? decodedFile->Read(area) : file->Read(area, bands);
    } catch (const RasterFile::Error& error) {
        throw CannotRead(path, error.Reason());
    } catch (const std::invalid_argument& error) {
        throw CannotRead(path, error.what());
    }
}

}  // namespace velkar::ordana
