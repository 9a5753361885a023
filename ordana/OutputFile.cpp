#include "ordana/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>
#include <stdexcept>
#include <utility>

#include "ordana/EchoedInput.h"

namespace velkar::ordana {

namespace {

std::string SystemError(int error) { return std::strerror(error); }

std::function<void(const std::string&)>& Announcer() {
    static std::function<void(const std::string&)> announcer;
    return announcer;
}

struct CommittedFiles {
    std::mutex lock;
    std::vector<std::string> paths;
};

CommittedFiles& Committed() {
    static CommittedFiles committed;
    return committed;
}

// Gives the temporary file the name, unless a file of that name exists. A hard link fails with
// EEXIST instead of replacing, so two runs can never take the same name; where the file system
// has no hard links, an existence check and a rename do.
int LinkWithoutReplacing(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return 0;
    }
    const int error = errno;
    if (error != EPERM && error != ENOTSUP && error != EXDEV && error != EMLINK) {
        return error;
    }
    struct stat existing {};
    if (lstat(to.c_str(), &existing) == 0) {
        return EEXIST;
    }
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string TemporaryPattern(const std::string& path) {
    const std::string tag = ".part-XXXXXX";
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t nameLength = path.size() - nameStart;
    if (nameLength > tag.size()) {
        return path.substr(0, path.size() - tag.size()) + tag;
    }
    // Six random characters are the least mkstemp takes; a dot hides them where it fits.
    return path.substr(0, nameStart) + (nameLength > 6 ? "." : "") + "XXXXXX";
}

std::string NumberedVariant(const std::string& path, int number) {
    if (number < 2) {
        return path;
    }
    const std::string suffix = "_" + std::to_string(number);
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        return path + suffix;
    }
    return path.substr(0, dot) + suffix + path.substr(dot);
}

OutputFile::OutputFile(std::string path) : path(std::move(path)) {
    std::string pattern = TemporaryPattern(this->path);
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
        throw std::runtime_error("Cannot write the file '" + EchoedPath(this->path) +
                                 "': " + SystemError(errno) + ".");
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
        throw std::runtime_error("Cannot write the file '" + EchoedPath(this->path) + "'.");
    }
}

OutputFile::~OutputFile() {
    if (!committed) {
        out.close();
        std::remove(temporaryPath.c_str());
    }
}

std::string OutputFile::Commit() {
    committed = true;
    out.close();
    if (!out) {
        std::remove(temporaryPath.c_str());
        throw std::runtime_error("Writing the file '" + EchoedPath(path) + "' failed.");
    }
    for (int number = 1;; ++number) {
        const std::string candidate = NumberedVariant(path, number);
        const int error = LinkWithoutReplacing(temporaryPath, candidate);
        if (error == 0) {
            {
                std::lock_guard<std::mutex> guard(Committed().lock);
                Committed().paths.push_back(candidate);
            }
            if (Announcer()) {
                Announcer()(candidate);
            }
            return candidate;
        }
        if (error != EEXIST) {
            std::remove(temporaryPath.c_str());
            throw std::runtime_error("Cannot write the file '" + EchoedPath(candidate) +
                                     "': " + SystemError(error) + ".");
        }
    }
}

std::size_t OutputFile::RemoveCommitted() {
    std::lock_guard<std::mutex> guard(Committed().lock);
    std::size_t removed = 0;
    for (const std::string& path : Committed().paths) {
        removed += std::remove(path.c_str()) == 0 ? 1 : 0;
    }
    Committed().paths.clear();
    return removed;
}

void OutputFile::SetAnnouncer(std::function<void(const std::string&)> announcer) {
    Announcer() = std::move(announcer);
}

}  // namespace velkar::ordana
