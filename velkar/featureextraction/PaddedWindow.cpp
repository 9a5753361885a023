#include "velkar/featureextraction/PaddedWindow.h"
#include "velkar/util/InvalidParameter.h"

#include <stdexcept>
#include <string>

namespace velkar::featureextraction {

PaddedWindow::PaddedWindow(int windowSize) : windowSize(windowSize), side(1), pad(0) {
    const util::InvalidParameter::Rules rules("PaddedWindow");
    rules.AtLeast("windowSize", windowSize, 1, "the window size must be at least 1");
    rules.AtMost("windowSize", windowSize, kLargestWindowSize,
                 "the window size must be at most " + std::to_string(kLargestWindowSize));
    while (side < windowSize) {
        side *= 2;
    }
    pad = (side - windowSize) / 2;
}

}  // namespace velkar::featureextraction
