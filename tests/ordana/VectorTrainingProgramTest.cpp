// Training regions drawn in a GIS and georeferenced results: vector files written here with
// OGR, in the scene's UTM system and in WGS84, give the program the windows and descriptors the
// same regions give in the text polygon file in pixel coordinates; holes and multipolygons; the
// refusals of unusable vector files; and the GeoTIFF class map, GeoPackage and legend of a
// classification read back with GDAL.

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "common/RasterFiles.h"
#include "common/TemporaryFolder.h"
#include "velkar/imageprocessing/GdalMessages.h"

namespace {

using ordanatest::LabelledPolygon;
using ordanatest::Rectangle;
using ordanatest::Words;
using Vertices = std::vector<std::pair<int, int>>;
using GeoTransform = std::array<double, 6>;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
const GeoTransform kNorthUp = {500000.0, 2.0, 0.0, 4000000.0, 0.0, -2.0};
const GeoTransform kRotated = {500000.0, 2.0, 0.5, 4000000.0, 0.5, -2.0};

std::unique_ptr<OGRSpatialReference> System(int epsg) {
    auto system = std::make_unique<OGRSpatialReference>();
    system->importFromEPSG(epsg);
    system->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return system;
}

std::string Wkt(int epsg) {
    char* text = nullptr;
    System(epsg)->exportToWkt(&text);
    std::string wkt(text);
    CPLFree(text);
    return wkt;
}

// A textured three-band scene, so that every window has descriptors of its own.
void WriteScene(const std::filesystem::path& path, const GeoTransform& transform) {
    testsupport::RasterContent content;
    content.width = kWidth;
    content.height = kHeight;
    content.bands = 3;
    for (int b = 0; b < 3; ++b) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                content.samples.push_back((x * 7 + y * 13 + b * 50 + (x < 32 ? 0 : 90)) % 256);
            }
        }
    }
    content.geoTransform = transform;
    content.coordinateSystem = Wkt(32633);
    ASSERT_TRUE(testsupport::WriteRaster(path.string(), content));
}

struct Feature {
    // Empty for a feature without a class.
    std::string label;
    std::string colour;
    // Each part an outer ring and its holes, in pixel coordinates.
    std::vector<std::vector<Vertices>> parts;
};

// Writes the features to a vector file of the driver, vertices placed through the transform in
// UTM and then, for another epsg, moved into that system.
void WriteVectorFile(const std::filesystem::path& path, const std::string& driverName,
                     const std::vector<Feature>& features, const GeoTransform& transform,
                     int epsg = 32633) {
    velkar::imageprocessing::GdalMessages::RegisterAllDrivers();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName.c_str());
    ASSERT_NE(driver, nullptr);
    std::unique_ptr<GDALDataset> dataset(
        driver->Create(path.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_TRUE(dataset);
    const auto utm = System(32633);
    const auto target = System(epsg);
    std::unique_ptr<OGRCoordinateTransformation> toTarget(
        OGRCreateCoordinateTransformation(utm.get(), target.get()));
    OGRLayer* layer = dataset->CreateLayer("regions", target.get(), wkbUnknown);
    ASSERT_NE(layer, nullptr);
    OGRFieldDefn className("class", OFTString);
    OGRFieldDefn colour("colour", OFTString);
    ASSERT_EQ(layer->CreateField(&className), OGRERR_NONE);
    ASSERT_EQ(layer->CreateField(&colour), OGRERR_NONE);
    for (const Feature& source : features) {
        OGRFeature feature(layer->GetLayerDefn());
        if (!source.label.empty()) {
            feature.SetField("class", source.label.c_str());
        }
        feature.SetField("colour", source.colour.c_str());
        OGRMultiPolygon parts;
        for (const auto& rings : source.parts) {
            OGRPolygon polygon;
            for (const Vertices& vertices : rings) {
                OGRLinearRing ring;
                for (std::size_t k = 0; k <= vertices.size(); ++k) {
                    const auto [c, r] = vertices[k % vertices.size()];
                    double x = transform[0] + c * transform[1] + r * transform[2];
                    double y = transform[3] + c * transform[4] + r * transform[5];
                    ASSERT_TRUE(epsg == 32633 || toTarget->Transform(1, &x, &y));
                    ring.addPoint(x, y);
                }
                polygon.addRing(&ring);
            }
            parts.addGeometry(&polygon);
        }
        if (parts.getNumGeometries() == 1) {
            feature.SetGeometry(parts.getGeometryRef(0));
        } else {
            feature.SetGeometry(&parts);
        }
        ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    }
}

const Vertices kRedA = Rectangle(0, 0, 24, 24);
const Vertices kRedB = {{8, 28}, {28, 28}, {28, 44}, {16, 47}, {8, 44}};
const Vertices kBlue = {{34, 6}, {62, 8}, {60, 40}, {40, 44}};

class VectorTrainingProgramTest : public testing::Test {
  protected:
    // The descriptor file of a run with the polygons of file over the scene.
    std::string Descriptors(const std::string& scene, const std::string& file,
                            const std::string& prefix, const std::string& more = "") {
        const auto result = ordanatest::RunOrdana(
            Words("--image " + scene + " --file " + file + " --wca --aws 4 --experiments 0 " +
                  "--output " + prefix + " " + more),
            folder.Path());
        EXPECT_EQ(result.exitStatus, 0) << file << "\n" << result.output << result.errors;
        for (const auto& path : ordanatest::FilesWithExtension(folder.Path(), "wca")) {
            if (path.filename().string().rfind(prefix, 0) == 0) {
                return ordanatest::ReadText(path);
            }
        }
        ADD_FAILURE() << "no descriptor file of " << file;
        return "";
    }

    testsupport::TemporaryFolder folder;
};

// The same three regions in five files over two scenes (north up and rotated): the text file in
// pixel coordinates, GeoJSON in the scene's UTM system and in WGS84 lon/lat, a GeoPackage whose
// first feature is a multipolygon of both red regions, and a Shapefile.
TEST_F(VectorTrainingProgramTest, VectorFilesGiveTheWindowsOfTheTextFile) {
    ordanatest::WritePolygonFile(folder / "regions.cct", {"red", "blue"}, {"", ""},
                                 {{"red", kRedA}, {"red", kRedB}, {"blue", kBlue}});
    const std::vector<Feature> separate = {
        {"red", "", {{kRedA}}}, {"red", "", {{kRedB}}}, {"blue", "", {{kBlue}}}};
    const std::vector<Feature> joined = {{"red", "", {{kRedA}, {kRedB}}}, {"blue", "", {{kBlue}}}};
    int run = 0;
    for (const auto& [sceneName, transform] :
         {std::pair{std::string("north.tif"), kNorthUp}, {std::string("rotated.tif"), kRotated}}) {
        SCOPED_TRACE(sceneName);
        WriteScene(folder / sceneName, transform);
        const std::string reference =
            Descriptors(sceneName, "regions.cct", "text" + std::to_string(run) + "_");
        ASSERT_GT(std::count(reference.begin(), reference.end(), '\n'), 40);
        const std::string stem = sceneName.substr(0, sceneName.find('.'));
        const std::vector<std::tuple<std::string, std::string, std::vector<Feature>, int>> files = {
            {stem + "_utm.geojson", "GeoJSON", separate, 32633},
            {stem + "_lonlat.geojson", "GeoJSON", separate, 4326},
            {stem + "_parts.gpkg", "GPKG", joined, 32633},
            {stem + "_shape.shp", "ESRI Shapefile", separate, 32633}};
        for (const auto& [name, driver, features, epsg] : files) {
            WriteVectorFile(folder / name, driver, features, transform, epsg);
            EXPECT_EQ(Descriptors(sceneName, name, "run" + std::to_string(++run) + "_"), reference)
                << name;
        }
    }
}

// A hole takes the windows that share area with it, and only those: the square with a hole
// gives the windows of four text rectangles around the hole, in another order.
TEST_F(VectorTrainingProgramTest, WindowsStayOutOfHoles) {
    WriteScene(folder / "scene.tif", kNorthUp);
    const Vertices hole = {{16, 16}, {24, 16}, {22, 24}, {18, 22}};
    WriteVectorFile(folder / "holed.gpkg", "GPKG",
                    {{"red", "", {{Rectangle(0, 0, 40, 40), hole}}},
                     {"blue", "", {{Rectangle(44, 0, 64, 44)}}}},
                    kNorthUp);
    ordanatest::WritePolygonFile(folder / "around.cct", {"red", "blue"}, {"", ""},
                                 {{"red", Rectangle(0, 0, 16, 40)},
                                  {"red", Rectangle(24, 0, 40, 40)},
                                  {"red", Rectangle(16, 0, 24, 16)},
                                  {"red", Rectangle(16, 24, 24, 40)},
                                  {"blue", Rectangle(44, 0, 64, 44)}});
    const auto sortedLines = [](const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    const auto holed = sortedLines(Descriptors("scene.tif", "holed.gpkg", "holed_"));
    EXPECT_EQ(holed, sortedLines(Descriptors("scene.tif", "around.cct", "around_")));
    // 100 windows of 4 pixels in the square, less the 4 over the hole; 5 x 11 blue ones.
    EXPECT_EQ(holed.size(), 96u + 55u);
}

// Unusable vector files are refused with one message naming the file and what is wrong, and
// nothing is written; a feature without a class is named and skipped.
TEST_F(VectorTrainingProgramTest, UnusableVectorFilesAreRefusedByName) {
    WriteScene(folder / "scene.tif", kNorthUp);
    const std::vector<Feature> good = {{"red", "#ff0000", {{kRedA}}},
                                       {"blue", "#0000ff", {{kBlue}}}};
    WriteVectorFile(folder / "good.geojson", "GeoJSON", good, kNorthUp);
    GeoTransform far = kNorthUp;
    far[0] += 1e5;
    WriteVectorFile(folder / "far.geojson", "GeoJSON", good, far);
    WriteVectorFile(folder / "classless.gpkg", "GPKG", {{"", "", {{kRedA}}}}, kNorthUp);
    ordanatest::WriteText(folder / "points.geojson",
                          R"({"type": "FeatureCollection", "features": [{"type": "Feature", )"
                          R"("properties": {"class": "red"}, "geometry": {"type": "Point", )"
                          R"("coordinates": [500010, 3999990]}}]})");
    ordanatest::WriteText(folder / "cut.geojson",
                          R"({"type": "FeatureCollection", "features": [{"type": "Feature", )");
    WriteVectorFile(folder / "badcolour.geojson", "GeoJSON", {{"red", "amber", {{kRedA}}}},
                    kNorthUp);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"good.geojson --class-field kind",
         "The vector file 'good.geojson' has no attribute 'kind' (option '--class-field'); its "
         "attributes are 'class', 'colour'."},
        {"good.geojson --color-field color",
         "The vector file 'good.geojson' has no attribute 'color' (option '--color-field')"},
        {"far.geojson",
         "The vector file 'far.geojson', the feature with id 0: its polygon lies "
         "outside the image (64 x 48 pixels)"},
        {"classless.gpkg",
         "The vector file 'classless.gpkg' holds no polygon with a value of "
         "'class' in its first layer ('regions')."},
        {"points.geojson", "The vector file 'points.geojson' holds no polygon"},
        {"cut.geojson", "The vector file 'cut.geojson' cannot be read"},
        {"badcolour.geojson --color-field colour",
         "The vector file 'badcolour.geojson', the feature with id 0: the colour 'amber' is not "
         "a colour"},
    };
    const auto before = ordanatest::FilesWithExtension(folder.Path(), "wca");
    for (const auto& [arguments, expected] : cases) {
        const auto result = ordanatest::RunOrdana(
            Words("--image scene.tif --wca --aws 4 --experiments 0 --file " + arguments),
            folder.Path());
        EXPECT_EQ(result.exitStatus, 2) << arguments;
        const auto messages = ordanatest::ProblemLines(result.errors);
        ASSERT_FALSE(messages.empty()) << arguments << result.errors;
        EXPECT_EQ(messages.back().rfind("error: " + expected, 0), 0u) << messages.back();
        EXPECT_EQ(ordanatest::FilesWithExtension(folder.Path(), "wca"), before) << arguments;
    }
    // The classless feature is named; the others train.
    WriteVectorFile(folder / "mixed.geojson", "GeoJSON",
                    {{"red", "", {{kRedA}}}, {"", "", {{kRedB}}}, {"blue", "", {{kBlue}}}},
                    kNorthUp);
    const auto mixed = ordanatest::RunOrdana(
        Words("--image scene.tif --wca --aws 4 --experiments 0 --file mixed.geojson"),
        folder.Path());
    EXPECT_EQ(mixed.exitStatus, 0) << mixed.output;
    EXPECT_NE(mixed.errors.find("The vector file 'mixed.geojson', the feature with id 1: it has "
                                "no value of 'class', so it is skipped."),
              std::string::npos)
        << mixed.errors;
}

// Pixels of each value in band 1 of the raster.
std::map<int, long long> ValueCounts(GDALDataset& raster) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(raster.GetRasterXSize()) *
                                      raster.GetRasterYSize());
    EXPECT_EQ(raster.GetRasterBand(1)->RasterIO(
                  GF_Read, 0, 0, raster.GetRasterXSize(), raster.GetRasterYSize(), pixels.data(),
                  raster.GetRasterXSize(), raster.GetRasterYSize(), GDT_Byte, 0, 0, nullptr),
              CE_None);
    std::map<int, long long> counts;
    for (const unsigned char value : pixels) {
        ++counts[value];
    }
    return counts;
}

// A classification of the rotated UTM scene: the class map is a GeoTIFF with the scene's
// geotransform and system, the classes' colours and no data 0; the regions' areas add up to the
// painted area of each class, the windows layer holds every window, and the legend agrees.
TEST_F(VectorTrainingProgramTest, ClassificationResultsAreGeoreferenced) {
    WriteScene(folder / "scene.tif", kRotated);
    WriteVectorFile(folder / "train.gpkg", "GPKG",
                    {{"red", "#ff0000", {{Rectangle(0, 0, 32, 48)}}},
                     {"blue", "#0000ff", {{Rectangle(32, 0, 64, 48)}}}},
                    kRotated);
    const auto trained = ordanatest::RunOrdana(
        Words("--image scene.tif --file train.gpkg --color-field colour --experiments 1 --seed 3 "
              "--wca --aws 4 --mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 300"),
        folder.Path());
    ASSERT_EQ(trained.exitStatus, 0) << trained.output;
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
    ASSERT_EQ(models.size(), 1u);
    const auto classified = ordanatest::RunOrdana(
        Words("--image scene.tif --sampling window --output out_ --modelfile " +
              models[0].filename().string()),
        folder.Path());
    ASSERT_EQ(classified.exitStatus, 0) << classified.output;
    const auto maps = ordanatest::FilesWithExtension(folder.Path(), "tif");
    const auto layers = ordanatest::FilesWithExtension(folder.Path(), "gpkg");
    const auto legends = ordanatest::FilesWithExtension(folder.Path(), "legend");
    // Sorted by name, the outputs ("out_...") come before the scene and the training regions.
    ASSERT_EQ(maps.size(), 2u);
    ASSERT_EQ(layers.size(), 2u);
    ASSERT_EQ(legends.size(), 1u);
    EXPECT_TRUE(ordanatest::FilesWithExtension(folder.Path(), "png").empty());

    velkar::imageprocessing::GdalMessages::RegisterAllDrivers();
    std::unique_ptr<GDALDataset> map(GDALDataset::Open(maps[0].string().c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(map) << maps[0];
    GeoTransform transform{};
    ASSERT_EQ(map->GetGeoTransform(transform.data()), CE_None);
    EXPECT_EQ(transform, kRotated);
    EXPECT_TRUE(map->GetSpatialRef() != nullptr &&
                map->GetSpatialRef()->IsSame(System(32633).get()));
    GDALRasterBand& band = *map->GetRasterBand(1);
    int hasNoData = 0;
    EXPECT_EQ(band.GetNoDataValue(&hasNoData), 0.0);
    EXPECT_TRUE(hasNoData);
    ASSERT_NE(band.GetColorTable(), nullptr);
    const GDALColorEntry* red = band.GetColorTable()->GetColorEntry(1);
    const GDALColorEntry* blue = band.GetColorTable()->GetColorEntry(2);
    EXPECT_EQ(std::vector<short>({red->c1, red->c2, red->c3, blue->c1, blue->c2, blue->c3}),
              std::vector<short>({255, 0, 0, 0, 0, 255}));
    const std::map<int, long long> painted = ValueCounts(*map);
    ASSERT_GT(painted.count(1) + painted.count(2), 0u);

    std::unique_ptr<GDALDataset> results(
        GDALDataset::Open(layers[0].string().c_str(), GDAL_OF_VECTOR));
    ASSERT_TRUE(results);
    OGRLayer* regions = results->GetLayerByName("regions");
    OGRLayer* windows = results->GetLayerByName("windows");
    ASSERT_TRUE(regions != nullptr && windows != nullptr);
    EXPECT_TRUE(regions->GetSpatialRef() != nullptr &&
                regions->GetSpatialRef()->IsSame(System(32633).get()));
    const double pixelArea = std::abs(kRotated[1] * kRotated[5] - kRotated[2] * kRotated[4]);
    std::map<int, double> areas;
    std::map<int, long long> pixels;
    for (auto& region : *regions) {
        const int id = region->GetFieldAsInteger("class_id");
        areas[id] += region->GetFieldAsDouble("area");
        pixels[id] += region->GetFieldAsInteger64("pixels");
        EXPECT_NEAR(region->GetGeometryRef()->toPolygon()->get_Area(),
                    region->GetFieldAsDouble("area"), 1e-6);
    }
    std::map<int, long long> windowsPerClass;
    for (auto& window : *windows) {
        ++windowsPerClass[window->GetFieldAsInteger("class_id")];
        const std::string name = window->GetFieldAsString("class");
        EXPECT_EQ(name, std::vector<std::string>({"unknown", "red", "blue"})
                            .at(static_cast<std::size_t>(window->GetFieldAsInteger("class_id"))));
    }
    EXPECT_EQ(windows->GetFeatureCount(), (kWidth / 4) * (kHeight / 4));
    std::istringstream legend(ordanatest::ReadText(legends[0]));
    std::string header;
    std::getline(legend, header);
    EXPECT_EQ(header.substr(0, 5), "class");
    for (int id = 1; id <= 2; ++id) {
        SCOPED_TRACE(id);
        const long long count = painted.count(id) ? painted.at(id) : 0;
        EXPECT_EQ(pixels[id], count);
        EXPECT_NEAR(areas[id], static_cast<double>(count) * pixelArea, 1e-6);
        std::string name, colour;
        long long legendWindows = 0, legendPixels = 0;
        double legendArea = 0.0;
        ASSERT_TRUE(legend >> name >> colour >> legendWindows >> legendPixels >> legendArea);
        EXPECT_EQ(name, id == 1 ? "red" : "blue");
        EXPECT_EQ(colour, id == 1 ? "#ff0000" : "#0000ff");
        EXPECT_EQ(legendWindows, windowsPerClass[id]);
        EXPECT_EQ(legendPixels, count);
        EXPECT_NEAR(legendArea, static_cast<double>(count) * pixelArea, 0.01);
        legend.ignore(1000, '\n');
    }
    EXPECT_NE(classified.errors.find(ordanatest::ReadText(legends[0])), std::string::npos)
        << classified.errors;
}

}  // namespace
