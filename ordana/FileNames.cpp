#include "ordana/FileNames.h"

#include <locale>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>

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

}  // namespace velkar::ordana
