#pragma once

// A file of its own for a fuzz target that must hand its input to a reader by path: one per
// process (so parallel fuzzing jobs do not share it), created empty and removed at exit.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzzing {

class TemporaryFile {
  public:
    explicit TemporaryFile(const char* stem) {
        path = (std::filesystem::temp_directory_path() / stem).string() + "-XXXXXX";
        const int descriptor = mkstemp(path.data());
        if (descriptor < 0) {
            std::abort();
        }
        close(descriptor);
    }
    ~TemporaryFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    std::string path;
};

}  // namespace fuzzing
