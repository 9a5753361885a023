#pragma once

// One scale-space keypoint found by SiftProcessingUnit: its position (x column, y row) in the
// image of its octave, or, once oriented, in the polygon's bounding-box image; the orientation
// in radians with the peak value of its orientation histogram; the smoothed level, octave and
// colour band it was found in; its scale (sigma), the interpolated difference-of-Gaussian value
// at it and the sub-level offset found while localising it. A plain record.

namespace velkar::featureextraction {

struct SiftKeypoint {
    SiftKeypoint(double x, double y);

    double x;
    double y;
    double orientation = 0.0;
    double magnitude = 0.0;
    int level = 0;
    int octave = 0;
    int band = 0;
    double scale = 0.0;
    double contrast = 0.0;
    double intervalOffset = 0.0;
};

}  // namespace velkar::featureextraction
