// Generates the demo's example data: two synthetic land-cover scenes of the same four classes
// (water, forest, field, urban), each class with its own colour and texture plus noise.
//   <folder>/training.png + training.cct   labelled training polygons, two per class
//   <folder>/scene.png + scene_truth.cct   a second scene with another layout, and its true regions
// Usage: make_demo_scenes <folder>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "velkar/imageprocessing/ImageFileSystem.h"

namespace {

using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::Pixel;

enum LandCover { Water = 0, Forest = 1, Field = 2, Urban = 3 };
const std::vector<std::string> kClassNames = {"water", "forest", "field", "urban"};
const std::vector<std::string> kColours = {"#2850a0", "#286428", "#beaa5a", "#828282"};

// A small deterministic generator, so the scenes are the same on every machine.
class Noise {
  public:
    explicit Noise(std::uint32_t seed) : state(seed) {}
    int Next(int amplitude) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(2 * amplitude + 1)) -
               amplitude;
    }

  private:
    std::uint32_t state;
};

std::uint8_t Clamp(int value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

Pixel Colour(LandCover cover, int x, int y, Noise& noise) {
    int r = 0;
    int g = 0;
    int b = 0;
    switch (cover) {
        case Water: {
            const int ripple = static_cast<int>(6 * std::sin(0.35 * x + 0.2 * y));
            r = 40 + ripple;
            g = 80 + ripple;
            b = 160 + ripple;
            break;
        }
        case Forest: {
            const int canopy = ((x / 3 + y / 3) % 2 == 0) ? 18 : -18;
            r = 40 + canopy / 2;
            g = 100 + canopy;
            b = 40;
            break;
        }
        case Field: {
            const int stripe = (y / 4) % 2 == 0 ? 15 : -15;
            r = 190 + stripe;
            g = 170 + stripe;
            b = 90;
            break;
        }
        case Urban: {
            const bool roof = (x % 12) < 8 && (y % 12) < 8;
            r = g = b = roof ? 150 : 100;
            break;
        }
    }
    Pixel pixel;
    pixel[0] = Clamp(r + noise.Next(12));
    pixel[1] = Clamp(g + noise.Next(12));
    pixel[2] = Clamp(b + noise.Next(12));
    return pixel;
}

struct Region {
    LandCover cover;
    int left;
    int top;
    int right;   // exclusive
    int bottom;  // exclusive
};

bool SaveScene(const std::string& path, int width, int height, const std::vector<Region>& regions,
               std::uint32_t seed) {
    auto image = ImageFileSystem::Create(path, width, height, 3);
    Noise noise(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            LandCover cover = Water;
            for (const Region& region : regions) {
                if (x >= region.left && x < region.right && y >= region.top && y < region.bottom) {
                    cover = region.cover;
                }
            }
            Pixel pixel = Colour(cover, x, y, noise);
            image->SetPixel(x, y, pixel);
        }
    }
    return image->Save();
}

// One polygon per entry: its label and its vertices.
struct LabelledPolygon {
    LandCover cover;
    std::vector<std::pair<int, int>> vertices;
};

bool WritePolygonFile(const std::string& path, const std::string& title,
                      const std::vector<LabelledPolygon>& polygons) {
    std::ofstream out(path);
    out << title << "\n" << kClassNames.size() << "\n";
    for (const std::string& name : kClassNames) {
        out << name << "\n";
    }
    out << kColours.size() << "\n";
    for (const std::string& colour : kColours) {
        out << colour << "\n";
    }
    out << polygons.size() << "\n";
    for (const LabelledPolygon& polygon : polygons) {
        out << kClassNames[static_cast<std::size_t>(polygon.cover)] << "\n";
    }
    out << polygons.size() << "\n";
    for (const LabelledPolygon& polygon : polygons) {
        out << polygon.vertices.size() << "\n";
        for (const auto& [x, y] : polygon.vertices) {
            out << x << " " << y << "\n";
        }
    }
    out.close();
    return static_cast<bool>(out);
}

LabelledPolygon Rectangle(const Region& region) {
    return {region.cover,
            {{region.left, region.top},
             {region.right - 1, region.top},
             {region.right - 1, region.bottom - 1},
             {region.left, region.bottom - 1}}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_demo_scenes <folder>\n";
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";

    // Training scene: four quadrants; two training polygons are drawn inside each, away from
    // the borders, some of them not rectangular (two per class let the accuracy report test on
    // polygons held out of training).
    const std::vector<Region> training = {{Water, 0, 0, 160, 120},
                                          {Forest, 160, 0, 320, 120},
                                          {Field, 0, 120, 160, 240},
                                          {Urban, 160, 120, 320, 240}};
    const std::vector<LabelledPolygon> trainingPolygons = {
        {Water, {{10, 10}, {75, 10}, {75, 110}, {10, 110}}},
        {Water, {{85, 10}, {150, 10}, {150, 110}, {85, 110}}},
        {Forest, {{170, 10}, {310, 10}, {310, 50}, {170, 50}}},
        {Forest, {{170, 60}, {300, 60}, {250, 110}, {170, 110}}},
        {Field, {{10, 130}, {60, 130}, {60, 230}, {10, 230}}},
        {Field, {{70, 130}, {120, 130}, {150, 180}, {120, 230}, {70, 230}}},
        {Urban, {{170, 130}, {235, 130}, {235, 230}, {170, 230}}},
        {Urban, {{245, 130}, {310, 130}, {310, 230}, {245, 230}}},
    };

    // Second scene: a mosaic of blocks 40 pixels wide in another arrangement.
    const LandCover mosaic[4][6] = {{Field, Field, Water, Water, Forest, Urban},
                                    {Urban, Field, Water, Forest, Forest, Urban},
                                    {Urban, Urban, Field, Forest, Water, Water},
                                    {Forest, Urban, Field, Field, Water, Forest}};
    std::vector<Region> scene;
    std::vector<LabelledPolygon> truth;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 6; ++column) {
            Region block{mosaic[row][column], column * 40, row * 40, column * 40 + 40,
                         row * 40 + 40};
            scene.push_back(block);
            truth.push_back(Rectangle(block));
        }
    }

    const bool written =
        SaveScene(folder + "training.png", 320, 240, training, 7u) &&
        WritePolygonFile(folder + "training.cct", "training.png", trainingPolygons) &&
        SaveScene(folder + "scene.png", 240, 160, scene, 11u) &&
        WritePolygonFile(folder + "scene_truth.cct", "scene.png", truth);
    if (!written) {
        std::cerr << "make_demo_scenes: cannot write into '" << folder << "'\n";
        return 1;
    }
    std::cout << "Wrote training.png, training.cct, scene.png and scene_truth.cct into " << folder
              << "\n";
    return 0;
}
