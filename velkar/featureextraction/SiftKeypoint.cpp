#include "velkar/featureextraction/SiftKeypoint.h"

namespace velkar::featureextraction {

SiftKeypoint::SiftKeypoint(double x, double y) : x(x), y(y) {}

}  // namespace velkar::featureextraction
