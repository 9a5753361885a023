#include "ordana/ProtocolWriter.h"

#include "ordana/EchoedInput.h"

namespace velkar::ordana {

ProtocolWriter::ProtocolWriter(bool chatty, std::ostream& out, std::ostream& err)
    : chatty(chatty), out(out), err(err) {}

void ProtocolWriter::Line(std::string_view tag, std::string_view text) const {
    // Quoted input is clipped where it is quoted; here only the framing is kept safe.
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
        out << "[STATUS] !" << resultsFile << "!" << std::endl;
    }
}

void ProtocolWriter::Error(std::string_view text) const { Line("LOGMESSAGE", text); }

void ProtocolWriter::Warning(std::string_view text) const { Line("LOGMESSAGE", text); }

void ProtocolWriter::ForPerson(std::string_view text) const {
    if (!chatty) {
        err << text << std::endl;
    }
}

void ProtocolWriter::Wrote(std::string_view path) const { ForPerson("Wrote " + std::string(path)); }

void ProtocolWriter::Answer(std::string_view text) const { out << text; }

ProtocolWriter& Protocol() {
    static ProtocolWriter writer;
    return writer;
}

void LogMessage(const std::string& text) { Protocol().Warning(text); }

}  // namespace velkar::ordana
