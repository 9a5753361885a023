#include "ordana/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace velkar::ordana {

namespace {

std::string SystemError() { return std::strerror(errno); }

}  // namespace

OutputFile::OutputFile(std::string path) : path(std::move(path)) {
    std::string pattern = this->path + ".part-XXXXXX";
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
        throw std::runtime_error("Cannot write the file '" + this->path + "': " + SystemError() +
                                 ".");
    }
    // mkstemp makes the file private; give it the permissions a plainly created file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    close(descriptor);
    temporaryPath = pattern;
    out.open(temporaryPath, std::ios::out | std::ios::trunc);
    if (!out) {
        std::remove(temporaryPath.c_str());
        throw std::runtime_error("Cannot write the file '" + this->path + "'.");
    }
}

OutputFile::~OutputFile() {
    if (!committed) {
        out.close();
        std::remove(temporaryPath.c_str());
    }
}

void OutputFile::Commit() {
    out.close();
    if (!out) {
        std::remove(temporaryPath.c_str());
        committed = true;
        throw std::runtime_error("Writing the file '" + path + "' failed.");
    }
    if (std::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        const std::string reason = SystemError();
        std::remove(temporaryPath.c_str());
        committed = true;
        throw std::runtime_error("Cannot write the file '" + path + "': " + reason + ".");
    }
    committed = true;
}

}  // namespace velkar::ordana
