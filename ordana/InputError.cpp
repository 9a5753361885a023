#include "ordana/InputError.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ordana/EchoedInput.h"

namespace velkar::ordana {

std::ifstream OpenInputFile(const std::string& kind, const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        throw InputError("The " + kind + " file '" + EchoedPath(path) + "' is a directory.");
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError("Cannot open the " + kind + " file '" + EchoedPath(path) + "'" +
                         (errno != 0 ? std::string(": ") + std::strerror(errno) : "") + ".");
    }
    return in;
}

}  // namespace velkar::ordana
