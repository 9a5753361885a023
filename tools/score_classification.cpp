// Compares a classification run's results file with the true regions of the scene: a window
// counts as correct when its predicted label is the class of the true polygon holding the
// window's centre. Prints the totals and one line per class.
// Usage: score_classification <results.cct> <truth.cct>

#include <iomanip>
#include <iostream>
#include <map>
#include <string>

#include "ordana/InputError.h"
#include "ordana/PolygonFile.h"

int main(int argc, char** argv) {
    using namespace velkar::ordana;
    if (argc != 3) {
        std::cerr << "usage: score_classification <results.cct> <truth.cct>\n";
        return 2;
    }
    try {
        const PolygonFileContent results = ReadPolygonFile(argv[1], false);
        const PolygonFileContent truth = ReadPolygonFile(argv[2], true);

        int correct = 0;
        std::map<std::string, std::pair<int, int>> perClass;  // true class -> (correct, windows)
        for (const auto& window : results.polygons) {
            if (window->Size() == 0) {
                continue;
            }
            const auto box = window->Bounds();
            const int centreX = (boost::polygon::xl(box) + boost::polygon::xh(box)) / 2;
            const int centreY = (boost::polygon::yl(box) + boost::polygon::yh(box)) / 2;
            std::string trueClass = "none";
            for (const auto& region : truth.polygons) {
                if (region->Contains(centreX, centreY)) {
                    trueClass = region->Class();
                    break;
                }
            }
            auto& counts = perClass[trueClass];
            ++counts.second;
            if (window->Class() == trueClass) {
                ++counts.first;
                ++correct;
            }
        }
        const auto total = results.polygons.size();
        std::cout << correct << " of " << total << " windows labelled correctly";
        if (total > 0) {
            std::cout << " (" << std::fixed << std::setprecision(1)
                      << 100.0 * correct / static_cast<double>(total) << "%)";
        }
        std::cout << "\n";
        for (const auto& [name, counts] : perClass) {
            std::cout << "  " << name << ": " << counts.first << " of " << counts.second << "\n";
        }
    } catch (const InputError& error) {
        std::cerr << error.what() << "\n";
        return 2;
    }
    return 0;
}
