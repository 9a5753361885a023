#include "ordana/FileNames.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <locale>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"

namespace velkar::ordana {

std::string TimestampedFileName(const std::string& base, const std::string& extension) {
    std::ostringstream name;
    // The stream's locale owns and deletes the facet.
    name.imbue(std::locale(name.getloc(), new boost::posix_time::time_facet("%Y-%m-%d_%H-%M-%S")));
    name << base << "_" << boost::posix_time::second_clock::local_time() << "." << extension;
    return name.str();
}

std::string OutputPrefixFor(const std::string& outputPrefix, const std::string& inputFile) {
    return outputPrefix.empty() ? DirectoryPrefix(inputFile) : outputPrefix;
}

std::string DirectoryPrefix(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string LastPathComponent(const std::string& path, const char* separators) {
    const auto separator = path.find_last_of(separators);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string ImageStem(const std::string& imagePath) {
    const std::string name = LastPathComponent(imagePath);
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string MakeOutputFolder(const std::string& outputPrefix) {
    std::string folder = DirectoryPrefix(outputPrefix);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder.empty() || folder == "/") {
        return "";
    }
    const auto refused = [&](const std::string& reason) {
        return InputError("The folder '" + EchoedPath(folder) + "' of the option '--output' " +
                          reason + ".");
    };
    struct stat status {};
    if (stat(folder.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode)) {
            throw refused("is a file, not a folder");
        }
        return "";
    }
    if (mkdir(folder.c_str(), 0777) != 0) {
        const int error = errno;
        throw refused(error == ENOENT ? "cannot be made: the folder it would be made in does not "
                                        "exist either"
                                      : std::string("cannot be made: ") + std::strerror(error));
    }
    return folder;
}

}  // namespace velkar::ordana
