#include "ordana/VectorLayerFile.h"

#include <gdal.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "ordana/ClassMap.h"
#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "velkar/imageprocessing/GdalMessages.h"

namespace velkar::ordana {

namespace {

using Point = math::Polygon::Point;
using Ring = std::vector<Point>;

// Pixel coordinates this far from the raster can only come from a wrong coordinate system.
constexpr double kFarthestCoordinate = 1e9;

struct PolygonRings {
    Ring outer;
    std::vector<Ring> holes;
};

// Turns layer coordinates into pixel corners of the raster.
class PixelMapping {
  public:
    PixelMapping(const std::string& path, const OGRSpatialReference* layerSystem,
                 const RasterFrame& frame)
        : path(path) {
        const auto& georeference = frame.georeference;
        if (georeference.geoTransform) {
            std::array<double, 6> forward = *georeference.geoTransform;
            if (!GDALInvGeoTransform(forward.data(), inverse.data())) {
                throw InputError(
                    "The geotransform of the image cannot be inverted, so the "
                    "polygons of the vector file '" +
                    EchoedPath(path) + "' cannot be placed on it.");
            }
            georeferenced = true;
        }
        if (layerSystem == nullptr || georeference.coordinateSystem.empty() || !georeferenced) {
            return;
        }
        rasterSystem.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        if (rasterSystem.importFromWkt(georeference.coordinateSystem.c_str()) != OGRERR_NONE) {
            return;
        }
        OGRSpatialReference source(*layerSystem);
        source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        if (source.IsSame(&rasterSystem)) {
            return;
        }
        transformation.reset(OGRCreateCoordinateTransformation(&source, &rasterSystem));
        if (!transformation) {
            throw InputError("The coordinate system of the vector file '" + EchoedPath(path) +
                             "' cannot be turned into the image's.");
        }
    }

    // The ring as pixel corners; a point that cannot be placed is an InputError for feature.
    Ring Map(const OGRLinearRing& ring, const std::string& feature) const {
        const int count = ring.getNumPoints();
        std::vector<double> xs(static_cast<std::size_t>(count));
        std::vector<double> ys(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            xs[static_cast<std::size_t>(i)] = ring.getX(i);
            ys[static_cast<std::size_t>(i)] = ring.getY(i);
        }
        if (transformation && count > 0 &&
            !transformation->Transform(count, xs.data(), ys.data())) {
            throw Error(feature,
                        "a vertex cannot be transformed into the image's coordinate "
                        "system");
        }
        Ring points;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            double column = xs[i];
            double row = ys[i];
            if (georeferenced) {
                column = inverse[0] + xs[i] * inverse[1] + ys[i] * inverse[2];
                row = inverse[3] + xs[i] * inverse[4] + ys[i] * inverse[5];
            }
            if (!(std::abs(column) < kFarthestCoordinate && std::abs(row) < kFarthestCoordinate)) {
                char where[96];
                std::snprintf(where, sizeof where, "%.6g, %.6g", column, row);
                throw Error(feature, "a vertex lies far outside the image (at pixel " +
                                         std::string(where) + "); is the coordinate system right?");
            }
            const Point point(static_cast<int>(std::floor(column + 0.5)),
                              static_cast<int>(std::floor(row + 0.5)));
            if (points.empty() || points.back() != point) {
                points.push_back(point);
            }
        }
        while (points.size() > 1 && points.back() == points.front()) {
            points.pop_back();
        }
        return points;
    }

    InputError Error(const std::string& feature, const std::string& message) const {
        return InputError("The vector file '" + EchoedPath(path) + "', " + feature + ": " +
                          message + ".");
    }

  private:
    std::string path;
    bool georeferenced = false;
    std::array<double, 6> inverse{};
    OGRSpatialReference rasterSystem;
    std::unique_ptr<OGRCoordinateTransformation> transformation;
};

// The polygons of a geometry: a polygon, the parts of a multipolygon, or the polygons of a
// collection; curves are approximated by lines first.
void CollectPolygons(const OGRGeometry& geometry, std::vector<const OGRPolygon*>& polygons,
                     std::vector<std::unique_ptr<OGRGeometry>>& owned) {
    if (geometry.hasCurveGeometry()) {
        owned.emplace_back(geometry.getLinearGeometry());
        if (owned.back()) {
            CollectPolygons(*owned.back(), polygons, owned);
        }
        return;
    }
    const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
    if (type == wkbPolygon) {
        polygons.push_back(geometry.toPolygon());
    } else if (type == wkbMultiPolygon || type == wkbGeometryCollection) {
        for (const OGRGeometry* part : *geometry.toGeometryCollection()) {
            if (part != nullptr) {
                CollectPolygons(*part, polygons, owned);
            }
        }
    }
}

std::string FeatureName(const OGRFeature& feature, GIntBig position) {
    const GIntBig id = feature.GetFID();
    return id == OGRNullFID ? "feature " + std::to_string(position)
                            : "the feature with id " + std::to_string(id);
}

std::string FieldNames(OGRFeatureDefn& definition) {
    std::string names;
    for (int i = 0; i < definition.GetFieldCount(); ++i) {
        names += (names.empty() ? "'" : ", '") +
                 EchoedInput(definition.GetFieldDefn(i)->GetNameRef()) + "'";
    }
    return names.empty() ? "none" : names;
}

int FieldIndex(OGRFeatureDefn& definition, const std::string& name, const std::string& path,
               const std::string& option) {
    const int index = definition.GetFieldIndex(name.c_str());
    if (index < 0) {
        throw InputError("The vector file '" + EchoedPath(path) + "' has no attribute '" +
                         EchoedInput(name) + "' (option '--" + option + "'); its attributes are " +
                         FieldNames(definition) + ".");
    }
    return index;
}

bool OutsideRaster(const Ring& outer, const RasterFrame& frame) {
    const auto [minX, maxX] = std::minmax_element(
        outer.begin(), outer.end(), [](const Point& a, const Point& b) { return a.x() < b.x(); });
    const auto [minY, maxY] = std::minmax_element(
        outer.begin(), outer.end(), [](const Point& a, const Point& b) { return a.y() < b.y(); });
    return maxX->x() <= 0 || maxY->y() <= 0 || minX->x() >= frame.width ||
           minY->y() >= frame.height;
}

}  // namespace

bool IsVectorLayerFile(const std::string& path) {
    imageprocessing::GdalMessages::RegisterAllDrivers();
    imageprocessing::GdalMessages quiet;
    return GDALIdentifyDriverEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr) != nullptr;
}

PolygonFileContent ReadVectorLayerFile(const std::string& path, const VectorFields& fields,
                                       const RasterFrame& frame,
                                       const std::function<void(const std::string&)>& warn) {
    imageprocessing::GdalMessages::RegisterAllDrivers();
    imageprocessing::GdalMessages messages;
    const std::string named = "The vector file '" + EchoedPath(path) + "'";
    std::unique_ptr<GDALDataset> dataset(
        GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset) {
        throw InputError(named + " cannot be read" + messages.First() + ".");
    }
    if (dataset->GetLayerCount() < 1) {
        throw InputError(named + " holds no layer.");
    }
    OGRLayer& layer = *dataset->GetLayer(0);
    OGRFeatureDefn& definition = *layer.GetLayerDefn();
    const int classIndex = FieldIndex(definition, fields.classField, path, "class-field");
    const int colorIndex =
        fields.colorField ? FieldIndex(definition, *fields.colorField, path, "color-field") : -1;
    const PixelMapping mapping(path, layer.GetSpatialRef(), frame);

    PolygonFileContent content;
    GIntBig position = 0;
    layer.ResetReading();
    for (OGRFeatureUniquePtr feature(layer.GetNextFeature()); feature;
         feature.reset(layer.GetNextFeature())) {
        ++position;
        const std::string name = FeatureName(*feature, position);
        if (!feature->IsFieldSetAndNotNull(classIndex) ||
            std::string(feature->GetFieldAsString(classIndex)).empty()) {
            warn(named + ", " + name + ": it has no value of '" + EchoedInput(fields.classField) +
                 "', so it is skipped.");
            continue;
        }
        const std::string className = feature->GetFieldAsString(classIndex);
        if (!IsStorableClassName(className)) {
            throw mapping.Error(name, "the class '" + EchoedInput(className) +
                                          "' must be one word without quotes, braces or "
                                          "brackets");
        }
        std::string colour;
        if (colorIndex >= 0 && feature->IsFieldSetAndNotNull(colorIndex)) {
            colour = feature->GetFieldAsString(colorIndex);
            if (!colour.empty() && !ClassMap::ParseColour(colour)) {
                throw mapping.Error(name, "the colour '" + EchoedInput(colour) +
                                              "' is not a colour such as #ff8000");
            }
        }
        std::vector<const OGRPolygon*> polygons;
        std::vector<std::unique_ptr<OGRGeometry>> owned;
        if (const OGRGeometry* geometry = feature->GetGeometryRef()) {
            CollectPolygons(*geometry, polygons, owned);
        }
        if (polygons.empty()) {
            warn(named + ", " + name + ": it has no polygon, so it is skipped.");
            continue;
        }
        const auto known = std::find(content.classes.begin(), content.classes.end(), className);
        if (known == content.classes.end()) {
            content.classes.push_back(className);
            content.colors.push_back(colour);
        } else if (content.colors[static_cast<std::size_t>(known - content.classes.begin())]
                       .empty()) {
            content.colors[static_cast<std::size_t>(known - content.classes.begin())] = colour;
        }
        for (const OGRPolygon* part : polygons) {
            if (part->IsEmpty() || part->getExteriorRing() == nullptr) {
                continue;
            }
            const Ring outer = mapping.Map(*part->getExteriorRing(), name);
            if (outer.empty() || OutsideRaster(outer, frame)) {
                throw mapping.Error(name, "its polygon lies outside the image (" +
                                              std::to_string(frame.width) + " x " +
                                              std::to_string(frame.height) +
                                              " pixels); is the coordinate system right?");
            }
            std::vector<Ring> holes;
            for (int h = 0; h < part->getNumInteriorRings(); ++h) {
                holes.push_back(mapping.Map(*part->getInteriorRing(h), name));
            }
            auto polygon = std::make_shared<math::Polygon>();
            polygon->SetId(static_cast<int>(content.polygons.size()));
            polygon->SetClass(className);
            polygon->SetPoints(outer.data(), static_cast<int>(outer.size()));
            polygon->SetHoles(holes);
            content.polygons.push_back(std::move(polygon));
        }
    }
    if (messages.HeardError()) {
        throw InputError(named + " cannot be read" + messages.First() + ".");
    }
    if (content.polygons.empty()) {
        throw InputError(named + " holds no polygon with a value of '" +
                         EchoedInput(fields.classField) + "' in its first layer ('" +
                         EchoedInput(layer.GetName()) + "').");
    }
    return content;
}

}  // namespace velkar::ordana
