#include "velkar/LibraryInfo.h"

namespace velkar {

std::string LibraryVersion() { return "1.0"; }

}  // namespace velkar
