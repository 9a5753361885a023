// Reading a scene in vertical strips, as the classification run reads its batches: a 4096 x 4096
// tiled GeoTIFF of four 16-bit bands (made once under the temporary folder, seeded), read strip
// by strip through RasterFile with a stretch per band, and the class indices of the strips
// written back into a tiled GeoTIFF and copied to a PNG. Reports pixels per second.

#include <benchmark/benchmark.h>
#include <gdal.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "velkar/imageprocessing/GdalMessages.h"
#include "velkar/imageprocessing/IndexedImage.h"
#include "velkar/imageprocessing/IndexedRasterFile.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace {

using velkar::imageprocessing::RasterFile;

constexpr int kSide = 4096;

const std::string& ScenePath() {
    static const std::string path = [] {
        velkar::imageprocessing::GdalMessages::Prepare();
        const std::string name =
            (std::filesystem::temp_directory_path() / "velkar_strip_bench.tif").string();
        const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256",
                                 "INTERLEAVE=BAND", nullptr};
        GDALDatasetH scene = GDALCreate(GDALGetDriverByName("GTiff"), name.c_str(), kSide, kSide,
                                        4, GDT_UInt16, const_cast<char**>(options));
        std::mt19937 random(17);
        std::vector<std::uint16_t> row(kSide);
        for (int band = 1; band <= 4; ++band) {
            for (int y = 0; y < kSide; ++y) {
                for (auto& sample : row) {
                    sample = static_cast<std::uint16_t>(random() % 4096);
                }
                if (GDALRasterIO(GDALGetRasterBand(scene, band), GF_Write, 0, y, kSide, 1,
                                 row.data(), kSide, 1, GDT_UInt16, 0, 0) != CE_None) {
                    std::abort();
                }
            }
        }
        GDALClose(scene);
        return name;
    }();
    return path;
}

void BM_ReadStrips(benchmark::State& state) {
    const int stripWidth = static_cast<int>(state.range(0));
    const RasterFile file(ScenePath());
    auto bands = file.ChooseBands(std::vector<int>{1, 2, 3, 4});
    for (auto& band : bands) {
        band.stretch = RasterFile::Stretch{100, 4000};
    }
    for (auto _ : state) {
        for (int x = 0; x < kSide; x += stripWidth) {
            auto strip = file.Read({x, 0, std::min(stripWidth, kSide - x), kSide}, bands);
            benchmark::DoNotOptimize(strip->Row(0));
        }
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_ReadStrips)->Arg(40)->Arg(160)->Arg(640)->Unit(benchmark::kMillisecond);

void BM_WriteClassMapStrips(benchmark::State& state) {
    const int stripWidth = static_cast<int>(state.range(0));
    const std::string tiff =
        (std::filesystem::temp_directory_path() / "velkar_strip_bench_map.tif").string();
    const std::string png =
        (std::filesystem::temp_directory_path() / "velkar_strip_bench_map.png").string();
    const std::vector<velkar::imageprocessing::IndexedImage::Colour> palette = {
        {0, 0, 0}, {200, 10, 10}, {10, 200, 10}, {10, 10, 200}};
    for (auto _ : state) {
        {
            velkar::imageprocessing::IndexedRasterFile map(tiff, kSide, kSide, palette);
            velkar::imageprocessing::IndexedImage strip(stripWidth, kSide);
            for (int x = 0; x < kSide; x += stripWidth) {
                for (int y = 0; y < kSide; y += 10) {
                    strip.Fill(0, y, stripWidth, 10, static_cast<unsigned char>(1 + (x + y) % 3));
                }
                map.Write(strip, x, 0);
            }
            map.CopyToPng(png);
        }
        std::filesystem::remove(tiff);
        std::filesystem::remove(png);
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_WriteClassMapStrips)->Arg(160)->Unit(benchmark::kMillisecond);

}  // namespace
