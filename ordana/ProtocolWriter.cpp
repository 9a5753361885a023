#include "ordana/ProtocolWriter.h"

#include "ordana/EchoedInput.h"

namespace velkar::ordana {

namespace {

// Carriage return, then erase to the end of the line.
constexpr std::string_view kClearLine = "\r\033[K";

// The text on one line: control bytes are written as \xNN, everything else as it is.
std::string OnOneLine(std::string_view text) {
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            line += "\\x";
            line += hexDigits[byte >> 4];
            line += hexDigits[byte & 0x0f];
        } else {
            line += c;
        }
    }
    return line;
}

}  // namespace

StepTimer::StepTimer(const ProtocolWriter& protocol, std::string label)
    : protocol(protocol), label(std::move(label)) {}

StepTimer::~StepTimer() {
    const boost::timer::cpu_times elapsed = timer.elapsed();
    std::lock_guard<std::mutex> guard(protocol.lock);
    if (protocol.chatty) {
        protocol.out << boost::timer::format(elapsed, 6) << std::flush;
        return;
    }
    protocol.ClearProgressLineLocked();
    // The library's report begins with a blank and ends its line.
    protocol.err << label << ":" << boost::timer::format(elapsed, 2) << std::flush;
}

ProtocolWriter::ProtocolWriter(bool chatty, std::ostream& out, std::ostream& err)
    : chatty(chatty), out(out), err(err) {}

void ProtocolWriter::Line(std::string_view tag, std::string_view text) const {
    // Quoted input is clipped where it is quoted; here only the framing is kept safe.
    std::lock_guard<std::mutex> guard(lock);
    out << "[" << tag << "] !" << EchoedInput(text, std::string::npos) << "!" << std::endl;
}

void ProtocolWriter::Task(std::string_view name) const {
    if (chatty) {
        Line("TASK", name);
    }
}

void ProtocolWriter::Progress(int percent) const {
    if (chatty) {
        Line("PROGRESS", std::to_string(percent));
    }
}

void ProtocolWriter::Note(std::string_view text) const {
    if (chatty) {
        Line("LOGMESSAGE", text);
    }
}

void ProtocolWriter::Status(std::string_view resultsFile) const {
    // The path goes as it is, for the front end to open.
    if (chatty) {
        std::lock_guard<std::mutex> guard(lock);
        out << "[STATUS] !" << resultsFile << "!" << std::endl;
    }
}

void ProtocolWriter::Bare(std::string_view text) const {
    if (chatty) {
        std::lock_guard<std::mutex> guard(lock);
        out << text << std::endl;
    }
}

void ProtocolWriter::PersonProblem(std::string_view kind, std::string_view text) const {
    const std::string line = "ordana: " + std::string(kind) + ": " + OnOneLine(text);
    std::lock_guard<std::mutex> guard(lock);
    if (!problemsWritten.insert(line).second) {
        return;
    }
    ClearProgressLineLocked();
    err << line << std::endl;
}

void ProtocolWriter::Error(std::string_view text) const {
    if (chatty) {
        Line("LOGMESSAGE", text);
    } else {
        PersonProblem("error", text);
    }
}

void ProtocolWriter::Warning(std::string_view text) const {
    if (chatty) {
        Line("LOGMESSAGE", text);
    } else {
        PersonProblem("warning", text);
    }
}

void ProtocolWriter::ForPerson(std::string_view text) const {
    if (!chatty) {
        std::lock_guard<std::mutex> guard(lock);
        ClearProgressLineLocked();
        err << text << std::endl;
    }
}

void ProtocolWriter::Wrote(std::string_view path) const { ForPerson("Wrote " + std::string(path)); }

void ProtocolWriter::Result(std::string_view text) const {
    if (!chatty) {
        std::lock_guard<std::mutex> guard(lock);
        // Standard output and error usually share the terminal.
        ClearProgressLineLocked();
        out << text << std::endl;
    }
}

void ProtocolWriter::Answer(std::string_view text) const {
    std::lock_guard<std::mutex> guard(lock);
    out << text;
}

void ProtocolWriter::ShowProgressLine(std::string_view text) const {
    if (chatty) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (progressShown && progressText == text) {
        return;
    }
    err << kClearLine << text << std::flush;
    progressShown = true;
    progressText = text;
}

void ProtocolWriter::ClearProgressLine() const {
    std::lock_guard<std::mutex> guard(lock);
    ClearProgressLineLocked();
}

void ProtocolWriter::ClearProgressLineLocked() const {
    if (progressShown) {
        err << kClearLine << std::flush;
        progressShown = false;
    }
}

ProtocolWriter& Protocol() {
    static ProtocolWriter writer;
    return writer;
}

void LogMessage(const std::string& text) { Protocol().Warning(text); }

}  // namespace velkar::ordana
