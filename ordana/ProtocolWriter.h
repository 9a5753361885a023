#pragma once

// Everything the program tells its user passes through one writer, which decides for each kind
// of message where it goes. With --chatty the program speaks a line protocol to a front end on
// standard output: "[TASK] !<name>!" when a stage begins, "[PROGRESS] !<percent>!",
// "[LOGMESSAGE] !<text>!" for what the run is doing and for its problems, and
// "[STATUS] !<results file>!" at the end. Without it standard output carries only results, the
// lines a script reads, and a person reads everything else on standard error: problems as
// "ordana: error: <text>" and "ordana: warning: <text>" (each distinct line once), the files
// written, summaries, the time each extraction step took, and on a terminal a progress line that
// every other line clears first, so that each starts on a fresh line. The text of a message never
// ends its line early: control bytes (and in the protocol "!") are written as \xNN (the status
// line gives its path as it is). The writer may be used from several threads.

#include <iostream>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include <boost/timer/timer.hpp>

namespace velkar::ordana {

class ProtocolWriter;

// Reports, when it goes, the wall and processor time one step of the run took: with --chatty
// as the timer library's bare report on standard output, otherwise on standard error after the
// step's label ("Windowed Color Average: 0.48s wall, ...").
class StepTimer {
  public:
    StepTimer(const ProtocolWriter& protocol, std::string label);
    ~StepTimer();
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

    // A step done in parts: the time between Stop and Resume is not counted.
    void Stop() { timer.stop(); }
    void Resume() { timer.resume(); }

  private:
    const ProtocolWriter& protocol;
    std::string label;
    boost::timer::cpu_timer timer;
};

class ProtocolWriter {
  public:
    explicit ProtocolWriter(bool chatty = false, std::ostream& out = std::cout,
                            std::ostream& err = std::cerr);
    ProtocolWriter(const ProtocolWriter&) = delete;
    ProtocolWriter& operator=(const ProtocolWriter&) = delete;

    void SetChatty(bool value) { chatty = value; }
    bool Chatty() const { return chatty; }

    // The protocol of a front end; nothing without --chatty.
    void Task(std::string_view name) const;
    void Progress(int percent) const;
    void Note(std::string_view text) const;
    void Status(std::string_view resultsFile) const;
    // A line of the protocol written as it is, without a tag (Point K's training-set size).
    void Bare(std::string_view text) const;

    // A problem that ends the run or a part of it, and something the run leaves out or reads
    // otherwise than asked and goes on.
    void Error(std::string_view text) const;
    void Warning(std::string_view text) const;

    // For a person at the console; nothing with --chatty. A line of text, and "Wrote <path>"
    // for every file written.
    void ForPerson(std::string_view text) const;
    void Wrote(std::string_view path) const;

    // A result line on standard output for a script; nothing with --chatty.
    void Result(std::string_view text) const;

    // What the user asked for (help, version), as it is.
    void Answer(std::string_view text) const;

    // Times one step of the run (see StepTimer).
    StepTimer TimeStep(std::string label) const { return StepTimer(*this, std::move(label)); }

    // The progress line of a terminal: rewritten in place on standard error (not when it
    // already shows text), cleared by the next line written; nothing with --chatty.
    void ShowProgressLine(std::string_view text) const;
    void ClearProgressLine() const;

  private:
    friend class StepTimer;

    void Line(std::string_view tag, std::string_view text) const;
    // A problem line on standard error, unless the same line was written before.
    void PersonProblem(std::string_view kind, std::string_view text) const;
    // Called with the lock held.
    void ClearProgressLineLocked() const;

    bool chatty;
    std::ostream& out;
    std::ostream& err;
    mutable std::mutex lock;
    mutable bool progressShown = false;
    // The text of the progress line while it is shown.
    mutable std::string progressText;
    mutable std::set<std::string> problemsWritten;
};

// The writer of this process, on standard output and standard error; the program sets whether
// it is chatty once it has read its command line.
ProtocolWriter& Protocol();

// A warning through the process's writer, for the helpers that have none at hand.
void LogMessage(const std::string& text);

}  // namespace velkar::ordana
