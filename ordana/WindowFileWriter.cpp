#include "ordana/WindowFileWriter.h"

#include <charconv>

namespace velkar::ordana {

namespace {

constexpr std::size_t kFlushSize = 1 << 20;

}  // namespace

WindowFileWriter::WindowFileWriter(const std::string& path, const std::string& imageName,
                                   const std::vector<std::string>& classes,
                                   const std::vector<std::string>& colours, std::size_t windowCount)
    : file(path), windowCount(windowCount) {
    buffer.reserve(kFlushSize + 256);
    Append(imageName);
    Append("\n");
    AppendNumber(static_cast<long long>(classes.size()));
    Append("\n");
    for (const std::string& name : classes) {
        Append(name);
        Append("\n");
    }
    // One colour line per class, so that the file reads back.
    AppendNumber(static_cast<long long>(classes.size()));
    Append("\n");
    for (std::size_t i = 0; i < classes.size(); ++i) {
        Append(i < colours.size() ? colours[i] : "");
        Append("\n");
    }
    AppendNumber(static_cast<long long>(windowCount));
    Append("\n");
}

void WindowFileWriter::AddLabel(std::string_view label) {
    if (labelled == windowCount) {
        return;
    }
    Append(label.empty() ? "unknown" : label);
    Append("\n");
    ++labelled;
}

std::string WindowFileWriter::Finish(int windowSize, const Origin& origin) {
    while (labelled < windowCount) {
        AddLabel("");
    }
    AppendNumber(static_cast<long long>(windowCount));
    Append("\n");
    const long long last = windowSize - 1;
    for (std::size_t i = 0; i < windowCount; ++i) {
        const auto [x, y] = origin(i);
        const long long corners[4][2] = {
            {x, y}, {x, y + last}, {x + last, y + last}, {x + last, y}};
        Append("4\n");
        for (const auto& corner : corners) {
            AppendNumber(corner[0]);
            Append(" ");
            AppendNumber(corner[1]);
            Append("\n");
        }
    }
    Flush();
    return file.Commit();
}

void WindowFileWriter::Append(std::string_view text) {
    buffer.append(text);
    if (buffer.size() >= kFlushSize) {
        Flush();
    }
}

void WindowFileWriter::AppendNumber(long long value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    Append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

void WindowFileWriter::Flush() {
    file.Stream().write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    buffer.clear();
}

}  // namespace velkar::ordana
