#pragma once

// Everything the program tells its user passes through one writer, which decides for each kind
// of message where it goes. With --chatty the program speaks a line protocol to a front end on
// standard output: "[TASK] !<name>!" when a stage begins, "[PROGRESS] !<percent>!",
// "[LOGMESSAGE] !<text>!" for what the run is doing, and "[STATUS] !<results file>!" at the end.
// Without it those lines are left out, and a person at the console reads on standard error the
// files written and the results. Problems (errors and warnings) are "[LOGMESSAGE]" lines on
// standard output either way. The text of a message never ends its line early: control bytes
// and "!" in it are written as \xNN (the status line gives its path as it is).

#include <iostream>
#include <ostream>
#include <string>
#include <string_view>

#include <boost/timer/timer.hpp>

namespace velkar::ordana {

class ProtocolWriter {
  public:
    explicit ProtocolWriter(bool chatty = false, std::ostream& out = std::cout,
                            std::ostream& err = std::cerr);

    void SetChatty(bool value) { chatty = value; }
    bool Chatty() const { return chatty; }

    // The protocol of a front end; nothing without --chatty.
    void Task(std::string_view name) const;
    void Progress(int percent) const;
    void Note(std::string_view text) const;
    void Status(std::string_view resultsFile) const;

    // A problem that ends the run or a part of it, and something the run leaves out or reads
    // otherwise than asked and goes on.
    void Error(std::string_view text) const;
    void Warning(std::string_view text) const;

    // For a person at the console; nothing with --chatty. A line of text, and "Wrote <path>"
    // for every file written.
    void ForPerson(std::string_view text) const;
    void Wrote(std::string_view path) const;

    // What the user asked for (help, version), as it is.
    void Answer(std::string_view text) const;

    // Reports, when it goes, the wall and processor time one step of the run took.
    boost::timer::auto_cpu_timer StepTimer() const { return boost::timer::auto_cpu_timer(out, 6); }

  private:
    void Line(std::string_view tag, std::string_view text) const;

    bool chatty;
    std::ostream& out;
    std::ostream& err;
};

// The writer of this process, on standard output and standard error; the program sets whether
// it is chatty once it has read its command line.
ProtocolWriter& Protocol();

// A warning through the process's writer, for the helpers that have none at hand.
void LogMessage(const std::string& text);

}  // namespace velkar::ordana
