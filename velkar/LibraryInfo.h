#pragma once

// Identity of the shared library, for programs that report which velkar they run on.

#include <string>

namespace velkar {

std::string LibraryVersion();

}  // namespace velkar
