#include "velkar/featureextraction/PaddedWindow.h"

#include <stdexcept>
#include <string>

namespace velkar::featureextraction {

PaddedWindow::PaddedWindow(int windowSize) : windowSize(windowSize), side(1), pad(0) {
    if (windowSize < 1 || windowSize > kLargestWindowSize) {
        throw std::invalid_argument("The window size must lie between 1 and " +
                                    std::to_string(kLargestWindowSize) + ", got " +
                                    std::to_string(windowSize));
    }
    while (side < windowSize) {
        side *= 2;
    }
    pad = (side - windowSize) / 2;
}

}  // namespace velkar::featureextraction
