#pragma once

// Runs a piece of a test in a child process under resource limits: what the child writes to
// standard output comes back as text, with its exit status (-1 when it did not exit normally).
// An address-space limit lets a case that takes memory fail fast instead of taking the machine;
// a file-size limit makes writes past it fail (the signal that would stop the process is
// ignored). The sanitizers reserve far more address space than any limit a test could set, so
// their builds run without that limit: the cases then behave the same, unguarded.

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
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kAddressSpaceLimitWorks = false;
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

// 0 leaves a resource unlimited.
struct ResourceLimits {
    rlim_t addressSpace = 0;
    rlim_t fileSize = 0;
};

struct ChildResult {
    std::string output;
    int exitStatus = -1;
};

// The address space this process uses now, in bytes; a limit is set this much plus the margin
// a case may use.
inline rlim_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    unsigned long pages = 0;
    statm >> pages;
    return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// Runs body in a child under the limits; the child exits with body's result, or 99 when body
// throws.
inline ChildResult RunInChild(const ResourceLimits& limits, const std::function<int()>& body) {
    ChildResult result;
    int ends[2];
    if (pipe(ends) != 0) {
        return result;
    }
    std::cout.flush();
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        close(ends[1]);
        if (limits.addressSpace != 0 && kAddressSpaceLimitWorks) {
            const rlimit limit{limits.addressSpace, limits.addressSpace};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (limits.fileSize != 0) {
            const rlimit limit{limits.fileSize, limits.fileSize};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
        }
        int status = 99;
        try {
            status = body();
        } catch (...) {
        }
        std::cout.flush();
        std::fflush(stdout);
        _exit(status);
    }
    close(ends[1]);
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(ends[0], buffer, sizeof buffer)) > 0) {
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
