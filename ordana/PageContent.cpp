#include "ordana/PageContent.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <ogr_spatialref.h>

#include "ordana/ClassMap.h"
#include "ordana/ModelFile.h"
#include "velkar/imageprocessing/PictureScaling.h"
#include "velkar/util/Array.h"

namespace velkar::ordana {

namespace {

using util::Collection;

std::string ItemText(const Collection::CollectionItem& item);

std::string ArrayText(const util::Array& array) {
    std::string text;
    for (const Collection::CollectionItem* item : array.Items()) {
        text += (text.empty() ? "" : ", ") + ItemText(*item);
    }
    return text;
}

std::string ItemText(const Collection::CollectionItem& item) {
    switch (item.kind) {
        case Collection::IntKind:
            return std::to_string(*static_cast<const int*>(item.value));
        case Collection::DoubleKind:
            return ShortestText(*static_cast<const double*>(item.value));
        case Collection::BoolKind:
            return *static_cast<const bool*>(item.value) ? "true" : "false";
        case Collection::StringKind:
            return *static_cast<const std::string*>(item.value);
        default:
            break;
    }
    const auto* array = dynamic_cast<const util::Array*>(static_cast<const Collection*>(item.value));
    // A nested array (a band's stretch) keeps its brackets, so that pairs stay apart.
    return array == nullptr ? "{...}" : "[" + ArrayText(*array) + "]";
}

}  // namespace

RgbPicture ScenePicture(const SceneRaster& scene, int maxSide, long long stripPixels) {
    const int width = scene.Width();
    const int height = scene.Height();
    const imageprocessing::PictureSize size = imageprocessing::FitWithin(width, height, maxSide);
    RgbPicture picture{size.width, size.height, {}};
    if (width <= 0 || height <= 0) {
        picture = {};
        return picture;
    }
    picture.rgb.assign(static_cast<std::size_t>(size.width) * size.height * 3, 0);
    // The output column of every input column, and the first input row of every output row.
    std::vector<int> column(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        column[static_cast<std::size_t>(x)] =
            static_cast<int>(static_cast<long long>(x) * size.width / width);
    }
    const auto firstRow = [&](int outY) {
        return static_cast<int>((static_cast<long long>(outY) * height + size.height - 1) /
                                size.height);
    };
    const int bands = scene.BandCount();
    const int shown = bands >= 3 ? 3 : 1;
    // A strip holds whole output rows, at least one.
    const long long rowsPerStrip = std::max(1LL, stripPixels / width);
    std::vector<std::uint64_t> sums;
    std::vector<std::uint32_t> counts;
    for (int outY = 0; outY < size.height;) {
        int outEnd = outY + 1;
        while (outEnd < size.height && firstRow(outEnd + 1) - firstRow(outY) <= rowsPerStrip) {
            ++outEnd;
        }
        const int top = firstRow(outY);
        const int bottom = firstRow(outEnd);
        const auto strip = scene.Read({0, top, width, bottom - top});
        const std::size_t cells = static_cast<std::size_t>(size.width) * (outEnd - outY);
        sums.assign(cells * 3, 0);
        counts.assign(cells, 0);
        for (int y = top; y < bottom; ++y) {
            const unsigned char* levels = strip->Row(y - top);
            const unsigned char* absent = strip->MaskRow(y - top);
            const int outRow = static_cast<int>(static_cast<long long>(y) * size.height / height);
            const std::size_t rowStart = static_cast<std::size_t>(outRow - outY) * size.width;
            for (int x = 0; x < width; ++x) {
                if (absent != nullptr && absent[x] != 0) {
                    continue;
                }
                const std::size_t cell = rowStart + static_cast<std::size_t>(column[x]);
                const unsigned char* pixel = levels + static_cast<std::size_t>(x) * bands;
                for (int c = 0; c < 3; ++c) {
                    sums[cell * 3 + c] += pixel[shown == 3 ? c : 0];
                }
                ++counts[cell];
            }
        }
        for (std::size_t cell = 0; cell < cells; ++cell) {
            for (std::size_t c = 0; c < 3 && counts[cell] > 0; ++c) {
                picture.rgb[static_cast<std::size_t>(outY) * size.width * 3 + cell * 3 + c] =
                    static_cast<unsigned char>((sums[cell * 3 + c] + counts[cell] / 2) /
                                               counts[cell]);
            }
        }
        outY = outEnd;
    }
    return picture;
}

std::vector<PageClass> PageClasses(const std::vector<std::string>& classes,
                                   const std::vector<std::string>& colours) {
    std::vector<PageClass> page;
    for (std::size_t c = 0; c < classes.size(); ++c) {
        page.push_back({classes[c], ClassMap::ClassColour(c, c < colours.size() ? colours[c] : ""),
                        std::nullopt, std::nullopt, std::nullopt});
    }
    return page;
}

std::vector<PagePolygon> PagePolygons(const std::vector<std::shared_ptr<math::Polygon>>& polygons,
                                      const std::vector<std::string>& classes) {
    std::vector<PagePolygon> page;
    for (const auto& polygon : polygons) {
        PagePolygon shown;
        for (auto point = polygon->Begin(); point != polygon->End(); ++point) {
            shown.vertices.emplace_back(point->x(), point->y());
        }
        const auto found = std::find(classes.begin(), classes.end(), polygon->Class());
        shown.classIndex = found == classes.end() ? -1 : static_cast<int>(found - classes.begin());
        page.push_back(std::move(shown));
    }
    return page;
}

std::vector<PageSetting> CommandLineSettings(const std::vector<std::string>& arguments) {
    std::vector<PageSetting> settings;
    for (const std::string& word : arguments) {
        if (word.size() > 2 && word.rfind("--", 0) == 0) {
            settings.push_back({word, ""});
        } else if (!settings.empty()) {
            std::string& value = settings.back().value;
            value += (value.empty() ? "" : " ") + word;
        }
    }
    return settings;
}

std::vector<PageSetting> ModelSettings(const util::Map& model) {
    std::vector<PageSetting> settings;
    const util::Map& metadata = ModelMetadata(model);
    for (const auto& [key, item] : metadata.Items()) {
        settings.push_back({key, ItemText(*item)});
    }
    for (const auto& [key, item] : model.Items()) {
        if (item->kind != Collection::CollectionKind) {
            settings.push_back({key, ItemText(*item)});
        }
    }
    return settings;
}

PixelArea PixelAreaOf(const imageprocessing::Georeference& georeference) {
    if (!georeference.geoTransform) {
        return {};
    }
    const auto& t = *georeference.geoTransform;
    PixelArea pixel{std::abs(t[1] * t[5] - t[2] * t[4]), "map unit²"};
    OGRSpatialReference system;
    if (georeference.coordinateSystem.empty() ||
        system.importFromWkt(georeference.coordinateSystem.c_str()) != OGRERR_NONE) {
        return pixel;
    }
    if (system.IsGeographic()) {
        pixel.unit = "degree²";
    } else if (system.IsProjected() || system.IsLocal()) {
        const char* name = nullptr;
        const double metres = system.GetLinearUnits(&name);
        if (metres == 1.0) {
            pixel.unit = "m²";
        } else if (name != nullptr && *name != '\0') {
            pixel.unit = std::string(name) + "²";
        }
    }
    return pixel;
}

}  // namespace velkar::ordana
