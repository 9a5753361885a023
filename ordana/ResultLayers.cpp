#include "ordana/ResultLayers.h"

#include <gdal_alg.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstdio>

#include "ordana/EchoedInput.h"
#include "ordana/WindowFileWriter.h"
#include "velkar/imageprocessing/GdalMessages.h"

namespace velkar::ordana {

namespace {

// Features written between two commits while the regions are copied.
constexpr int kRegionsPerTransaction = 1 << 14;

const std::string kUnknown(WindowFileWriter::kUnknown);

}  // namespace

ResultLayers::ResultLayers(const std::string& scratchPath,
                           const imageprocessing::Georeference& georeference,
                           const std::vector<std::string>& classes)
    : file(scratchPath), path(scratchPath), classes(classes) {
    imageprocessing::GdalMessages::RegisterAllDrivers();
    imageprocessing::GdalMessages messages;
    if (georeference.geoTransform) {
        geoTransform = *georeference.geoTransform;
    }
    // GDAL makes the file itself, so the empty placeholder goes first.
    std::remove(file.TemporaryPath().c_str());
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (driver != nullptr) {
        dataset.reset(driver->Create(file.TemporaryPath().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    }
    if (!dataset) {
        throw Failure();
    }
    OGRSpatialReference system;
    OGRSpatialReference* known = nullptr;
    if (!georeference.coordinateSystem.empty() &&
        system.importFromWkt(georeference.coordinateSystem.c_str()) == OGRERR_NONE) {
        system.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        known = &system;
    }
    windows = dataset->CreateLayer("windows", known, wkbPolygon);
    regions = dataset->CreateLayer("regions", known, wkbPolygon);
    if (windows == nullptr || regions == nullptr) {
        throw Failure();
    }
    OGRFieldDefn className("class", OFTString);
    OGRFieldDefn classId("class_id", OFTInteger);
    OGRFieldDefn area("area", OFTReal);
    OGRFieldDefn pixels("pixels", OFTInteger64);
    for (OGRLayer* layer : {windows, regions}) {
        if (layer->CreateField(&className) != OGRERR_NONE ||
            layer->CreateField(&classId) != OGRERR_NONE) {
            throw Failure();
        }
    }
    if (regions->CreateField(&area) != OGRERR_NONE ||
        regions->CreateField(&pixels) != OGRERR_NONE) {
        throw Failure();
    }
}

ResultLayers::~ResultLayers() {
    imageprocessing::GdalMessages quiet;
    dataset.reset();
}

std::runtime_error ResultLayers::Failure() const {
    return std::runtime_error("Cannot write the GeoPackage '" + EchoedPath(path) + "'.");
}

void ResultLayers::Transaction(const std::function<void()>& write) {
    if (dataset->StartTransaction() != OGRERR_NONE) {
        throw Failure();
    }
    write();
    if (dataset->CommitTransaction() != OGRERR_NONE) {
        throw Failure();
    }
}

void ResultLayers::AddWindows(const featureextraction::WindowGrid& grid, std::size_t first,
                              const std::vector<int>& answers, int originX, int originY) {
    imageprocessing::GdalMessages messages;
    const auto& t = geoTransform;
    const double w = grid.WindowSize();
    Transaction([&] {
        OGRFeature feature(windows->GetLayerDefn());
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const double x = originX + grid.X(first + i);
            const double y = originY + grid.Y(first + i);
            OGRLinearRing ring;
            for (const auto& [c, r] :
                 {std::pair{x, y}, {x + w, y}, {x + w, y + w}, {x, y + w}, {x, y}}) {
                ring.addPoint(t[0] + c * t[1] + r * t[2], t[3] + c * t[4] + r * t[5]);
            }
            OGRPolygon square;
            square.addRing(&ring);
            const int answer = answers[i];
            const bool known = answer >= 0 && static_cast<std::size_t>(answer) < classes.size();
            feature.SetFID(OGRNullFID);
            feature.SetField(
                0, known ? classes[static_cast<std::size_t>(answer)].c_str() : kUnknown.c_str());
            feature.SetField(1, known ? answer + 1 : 0);
            feature.SetGeometry(&square);
            if (windows->CreateFeature(&feature) != OGRERR_NONE) {
                throw Failure();
            }
        }
    });
}

void ResultLayers::AddRegions(const std::string& classMapPath, int mapLeft, int mapTop) {
    imageprocessing::GdalMessages messages;
    std::unique_ptr<GDALDataset> map(
        GDALDataset::Open(classMapPath.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!map) {
        throw Failure();
    }
    // The polygons go into a layer of their own first, and then into "regions" with their
    // attributes, so that no layer is changed while it is read.
    OGRLayer* traced = dataset->CreateLayer("traced", regions->GetSpatialRef(), wkbPolygon);
    OGRFieldDefn classId("class_id", OFTInteger);
    if (traced == nullptr || traced->CreateField(&classId) != OGRERR_NONE) {
        throw Failure();
    }
    GDALRasterBand* band = map->GetRasterBand(1);
    Transaction([&] {
        if (GDALPolygonize(band, band, traced, 0, nullptr, nullptr, nullptr) != CE_None) {
            throw Failure();
        }
    });
    // Polygonize gives the pixel positions of a map without a geotransform, which lie
    // (mapLeft, mapTop) from the scene's.
    std::array<double, 6> ownTransform{};
    const bool placed = map->GetGeoTransform(ownTransform.data()) == CE_None;
    const double shiftX = placed ? 0.0 : mapLeft * geoTransform[1] + mapTop * geoTransform[2];
    const double shiftY = placed ? 0.0 : mapLeft * geoTransform[4] + mapTop * geoTransform[5];
    const auto shift = [shiftX, shiftY](OGRGeometry* shape) {
        if (shape == nullptr || (shiftX == 0.0 && shiftY == 0.0)) {
            return;
        }
        OGRPolygon* polygon = shape->toPolygon();
        for (int r = -1; r < polygon->getNumInteriorRings(); ++r) {
            OGRLinearRing* ring =
                r < 0 ? polygon->getExteriorRing() : polygon->getInteriorRing(r);
            for (int p = 0; ring != nullptr && p < ring->getNumPoints(); ++p) {
                ring->setPoint(p, ring->getX(p) + shiftX, ring->getY(p) + shiftY);
            }
        }
    };
    const auto& t = geoTransform;
    const double pixelArea = std::abs(t[1] * t[5] - t[2] * t[4]);
    OGRFeature region(regions->GetLayerDefn());
    traced->ResetReading();
    OGRFeatureUniquePtr polygon(traced->GetNextFeature());
    while (polygon) {
        Transaction([&] {
            for (int n = 0; polygon && n < kRegionsPerTransaction;
                 ++n, polygon.reset(traced->GetNextFeature())) {
                const int id = polygon->GetFieldAsInteger(0);
                OGRGeometry* shape = polygon->GetGeometryRef();
                shift(shape);
                const double area = shape != nullptr ? shape->toPolygon()->get_Area() : 0.0;
                region.SetFID(OGRNullFID);
                region.SetField(0, id >= 1 && static_cast<std::size_t>(id) <= classes.size()
                                       ? classes[static_cast<std::size_t>(id - 1)].c_str()
                                       : kUnknown.c_str());
                region.SetField(1, id);
                region.SetField(2, area);
                // Region outlines follow pixel edges, so the area is a whole number of pixels.
                region.SetField(3, static_cast<GIntBig>(std::llround(area / pixelArea)));
                region.SetGeometry(shape);
                if (regions->CreateFeature(&region) != OGRERR_NONE) {
                    throw Failure();
                }
            }
        });
    }
    for (int i = 0; i < dataset->GetLayerCount(); ++i) {
        if (dataset->GetLayer(i) == traced) {
            dataset->DeleteLayer(i);
            break;
        }
    }
}

std::string ResultLayers::Commit(const std::string& path) {
    this->path = path;
    {
        imageprocessing::GdalMessages messages;
        dataset.reset();
        if (messages.HeardError()) {
            throw Failure();
        }
    }
    OutputFile named(path);
    if (std::rename(file.TemporaryPath().c_str(), named.TemporaryPath().c_str()) != 0) {
        throw Failure();
    }
    return named.Commit();
}

}  // namespace velkar::ordana
