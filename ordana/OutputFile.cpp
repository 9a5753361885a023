#include "ordana/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>
#include <stdexcept>
#include <utility>

#include "ordana/EchoedInput.h"
#include "ordana/Interruption.h"

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
    // The six characters OutputFile fills; a dot hides them where it fits.
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
    // The six characters that end the pattern come from the process id and a counter; the name
    // is registered before the file exists, so that an interrupt never leaves it behind, and
    // O_EXCL keeps two writers from sharing it.
    static std::atomic<unsigned long long> counter{0};
    static constexpr char kDigits[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const std::string pattern = TemporaryPattern(this->path);
    int descriptor = -1;
    for (int attempt = 0; descriptor < 0; ++attempt) {
        unsigned long long mixed =
            (static_cast<unsigned long long>(getpid()) << 20) + counter.fetch_add(1);
        mixed ^= mixed >> 31;
        mixed *= 0x9E3779B97F4A7C15ULL;
        mixed ^= mixed >> 29;
        temporaryPath = pattern;
        for (std::size_t i = temporaryPath.size() - 6; i < temporaryPath.size(); ++i) {
            temporaryPath[i] = kDigits[mixed % 62];
            mixed /= 62;
        }
        interruptSlot = Interruption::Register(temporaryPath);
        descriptor = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            const int error = errno;
            Interruption::Unregister(interruptSlot);
            interruptSlot = -1;
            if (error != EEXIST || attempt == 100) {
                throw std::runtime_error("Cannot write the file '" + EchoedPath(this->path) +
                                         "': " + SystemError(error) + ".");
            }
        }
    }
    close(descriptor);
    out.open(temporaryPath, std::ios::out | std::ios::trunc);
    if (!out) {
        std::remove(temporaryPath.c_str());
        Interruption::Unregister(interruptSlot);
        throw std::runtime_error("Cannot write the file '" + EchoedPath(this->path) + "'.");
    }
}

OutputFile::~OutputFile() {
    if (!committed) {
        out.close();
        std::remove(temporaryPath.c_str());
    }
    Interruption::Unregister(interruptSlot);
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
            // An interrupt from now on removes the final name, as the run has not completed.
            Interruption::Register(candidate);
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
