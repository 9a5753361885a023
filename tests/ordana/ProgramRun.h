#pragma once

// Runs the real ordana binary for the program tests: the arguments are quoted for the shell,
// standard output and standard error are captured apart, and the exit status is kept.
// RunOrdanaWithin runs it in a child process under resource limits instead.

#include <sys/wait.h>
#include <unistd.h>

#include "common/ChildProcess.h"
#include "common/TemporaryFolder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace ordanatest {

struct ProgramResult {
    std::string output;
    std::string errors;
    int exitStatus = -1;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string::size_type start = 0;
        while (start < output.size()) {
            auto end = output.find('\n', start);
            if (end == std::string::npos) {
                end = output.size();
            }
            lines.push_back(output.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    bool HasLine(const std::string& line) const {
        for (const std::string& candidate : Lines()) {
            if (candidate == line) {
                return true;
            }
        }
        return false;
    }

    // The problems a run without --chatty reported on standard error (see ProblemLines).
    std::vector<std::string> Messages() const;

    int CountLines(const std::string& line) const {
        int count = 0;
        for (const std::string& candidate : Lines()) {
            count += candidate == line ? 1 : 0;
        }
        return count;
    }
};

// The problems written on standard error by a run without --chatty ("ordana: error: <text>",
// "ordana: warning: <text>"), as "error: <text>" and "warning: <text>", in order.
inline std::vector<std::string> ProblemLines(const std::string& errors) {
    std::vector<std::string> messages;
    const std::string head = "ordana: ";
    std::string::size_type start = 0;
    while (start < errors.size()) {
        auto end = errors.find('\n', start);
        if (end == std::string::npos) {
            end = errors.size();
        }
        const std::string line = errors.substr(start, end - start);
        if (line.rfind(head + "error: ", 0) == 0 || line.rfind(head + "warning: ", 0) == 0) {
            messages.push_back(line.substr(head.size()));
        }
        start = end + 1;
    }
    return messages;
}

inline std::vector<std::string> ProgramResult::Messages() const { return ProblemLines(errors); }

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// Runs ordana with the arguments in the given working directory.
inline ProgramResult RunOrdana(
    const std::vector<std::string>& arguments,
    const std::filesystem::path& workingDirectory = std::filesystem::current_path()) {
    const testsupport::TemporaryFolder errorFolder;
    const std::filesystem::path errorFile = errorFolder.Path() / "stderr";
    std::string command =
        "cd " + ShellQuote(workingDirectory.string()) + " && " + ShellQuote(ORDANA_BINARY);
    for (const std::string& argument : arguments) {
        command += " " + ShellQuote(argument);
    }
    command += " 2>" + ShellQuote(errorFile.string());
    ProgramResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    const int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    FILE* errors = std::fopen(errorFile.c_str(), "rb");
    while (errors != nullptr && (count = fread(buffer, 1, sizeof buffer, errors)) > 0) {
        result.errors.append(buffer, count);
    }
    if (errors != nullptr) {
        std::fclose(errors);
    }
    return result;
}

// Runs ordana in the working directory under the limits (see ChildProcess.h); its standard
// error joins the output.
inline ProgramResult RunOrdanaWithin(const testsupport::ResourceLimits& limits,
                                     std::vector<std::string> arguments,
                                     const std::filesystem::path& workingDirectory) {
    arguments.insert(arguments.begin(), ORDANA_BINARY);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const auto child = testsupport::RunInChild(limits, [&] {
        dup2(STDOUT_FILENO, STDERR_FILENO);
        return chdir(workingDirectory.c_str()) == 0 ? execv(argv[0], argv.data()) : 127;
    });
    ProgramResult result;
    result.output = child.output;
    result.exitStatus = child.exitStatus;
    return result;
}

using testsupport::TemporaryFolder;

}  // namespace ordanatest
