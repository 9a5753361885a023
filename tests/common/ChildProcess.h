#pragma once

// Runs part of a test in a child process under resource limits (0 leaves one unlimited) and
// returns what the child wrote to standard output and its exit status (-1 when it did not exit
// normally). A file-size limit makes writes past it fail. The sanitizers reserve more address
// space than a test could allow, so their builds run without that limit, unguarded.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAddressSpaceLimitWorks = false;
#elif defined(__has_feature)
constexpr bool kAddressSpaceLimitWorks =
    !__has_feature(address_sanitizer) && !__has_feature(thread_sanitizer);
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

struct ResourceLimits {
    rlim_t addressSpace = 0;
    rlim_t fileSize = 0;
};

struct ChildResult {
    std::string output;
    int exitStatus = -1;
};

// The address space this process uses now, in bytes.
inline rlim_t AddressSpaceInUse() {
    unsigned long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// The address space the shared libraries mapped into this process take, in bytes: about what a
// program linked to the same libraries needs before it allocates anything (GDAL's libraries alone
// map some 160 MB).
inline rlim_t SharedLibraryAddressSpace() {
    std::ifstream maps("/proc/self/maps");
    rlim_t total = 0;
    for (std::string line; std::getline(maps, line);) {
        const std::size_t path = line.find('/');
        if (path == std::string::npos || line.find(".so", path) == std::string::npos) {
            continue;
        }
        const std::size_t dash = line.find('-');
        const unsigned long long start = std::stoull(line.substr(0, dash), nullptr, 16);
        const unsigned long long end =
            std::stoull(line.substr(dash + 1, line.find(' ') - dash - 1), nullptr, 16);
        total += static_cast<rlim_t>(end - start);
    }
    return total;
}

// The child exits with body's result, or 99 when body throws.
inline ChildResult RunInChild(const ResourceLimits& limits, const std::function<int()>& body) {
    ChildResult result;
    int ends[2];
    if (pipe(ends) != 0) {
        return result;
    }
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        close(ends[1]);
        for (const auto& [resource, limit] : {std::pair{RLIMIT_AS, limits.addressSpace},
                                              std::pair{RLIMIT_FSIZE, limits.fileSize}}) {
            const rlimit value{limit, limit};
            if (limit != 0 && (resource != RLIMIT_AS || kAddressSpaceLimitWorks)) {
                setrlimit(resource, &value);
            }
        }
        signal(SIGXFSZ, SIG_IGN);
        int status = 99;
        try {
            status = body();
        } catch (...) {
        }
        std::cout.flush();
        _exit(status);
    }
    close(ends[1]);
    char buffer[4096];
    for (ssize_t count; (count = read(ends[0], buffer, sizeof buffer)) > 0;) {
        result.output.append(buffer, static_cast<std::size_t>(count));
    }
    close(ends[0]);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace testsupport
