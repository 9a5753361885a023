#pragma once

// Text from the user (an option value, a line of an input file, a path) as it is quoted in a
// message: at most a given number of bytes of it, followed by "..." when it is longer, with
// every control byte and every "!" written as \xNN so that the quote stays on one line and
// cannot end a "[LOGMESSAGE] !...!" line early. A cut never splits a UTF-8 sequence.

#include <cstddef>
#include <string>
#include <string_view>

namespace velkar::ordana {

// Values and lines are quoted in full up to this many bytes; paths up to the longer limit, as
// a path shown in part is seldom useful.
constexpr std::size_t kEchoLimit = 80;
constexpr std::size_t kPathEchoLimit = 240;

std::string EchoedInput(std::string_view text, std::size_t limit = kEchoLimit);

inline std::string EchoedPath(std::string_view path) { return EchoedInput(path, kPathEchoLimit); }

}  // namespace velkar::ordana
