#include "ordana/WindowFileWriter.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <stdexcept>

#include "velkar/util/Parallel.h"

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
    buffer.append(label.empty() ? kUnknown : label);
    buffer.push_back('\n');
    if (buffer.size() >= kFlushSize) {
        Flush();
    }
    ++labelled;
}

void WindowFileWriter::AddLabelLines(std::string_view lines, std::size_t count) {
    if (count <= windowCount - labelled) {
        Append(lines);
        labelled += count;
        return;
    }
    std::size_t length = 0;
    while (length < lines.size() && labelled < windowCount) {
        const std::size_t end = lines.find('\n', length);
        length = end == std::string_view::npos ? lines.size() : end + 1;
        ++labelled;
    }
    Append(lines.substr(0, length));
}

namespace {

char* PutNumber(char* at, long long value) { return std::to_chars(at, at + 24, value).ptr; }

// The corner lines of windows [first, last) appended to text.
void FormatCorners(std::size_t first, std::size_t last, long long reach,
                   const WindowFileWriter::Origin& origin, std::string& text) {
    char line[128];
    for (std::size_t i = first; i < last; ++i) {
        const auto [x, y] = origin(i);
        const long long corners[4][2] = {
            {x, y}, {x, y + reach}, {x + reach, y + reach}, {x + reach, y}};
        char* at = line;
        *at++ = '4';
        *at++ = '\n';
        for (const auto& corner : corners) {
            at = PutNumber(at, corner[0]);
            *at++ = ' ';
            at = PutNumber(at, corner[1]);
            *at++ = '\n';
        }
        text.append(line, static_cast<std::size_t>(at - line));
    }
}

}  // namespace

void WindowFileWriter::LabelTheRest() {
    // Lines of "unknown" go in a block at a time: a segmentation file is nothing else.
    static const std::string unknownBlock = [] {
        std::string block;
        for (int i = 0; i < 4096; ++i) {
            block.append(kUnknown);
            block.push_back('\n');
        }
        return block;
    }();
    const std::size_t lineLength = kUnknown.size() + 1;
    while (labelled < windowCount) {
        const std::size_t lines =
            std::min(windowCount - labelled, unknownBlock.size() / lineLength);
        Append(std::string_view(unknownBlock).substr(0, lines * lineLength));
        labelled += lines;
    }
}

WindowFileWriter::Written WindowFileWriter::Finish(int windowSize, const Origin& origin,
                                                   std::atomic<std::size_t>* windowsDone) {
    LabelTheRest();
    Written result;
    result.cornersBegin = written + buffer.size();
    AppendNumber(static_cast<long long>(windowCount));
    Append("\n");
    Flush();
    // The corners of millions of windows are formatted on every thread, a chunk each, and the
    // chunks written in window order; a round of chunks is all that is held at a time.
    constexpr std::size_t kChunk = 1 << 15;
    const std::size_t parallel = static_cast<std::size_t>(std::max(util::MaxThreads(), 1)) * 2;
    std::vector<std::string> chunks(parallel);
    for (std::size_t start = 0; start < windowCount; start += kChunk * parallel) {
        const std::size_t count = std::min(parallel, (windowCount - start + kChunk - 1) / kChunk);
        util::ParallelFor(count, [&](std::size_t c) {
            const std::size_t first = start + c * kChunk;
            chunks[c].clear();
            FormatCorners(first, std::min(windowCount, first + kChunk), windowSize - 1, origin,
                          chunks[c]);
        });
        for (std::size_t c = 0; c < count; ++c) {
            file.Stream().write(chunks[c].data(), static_cast<std::streamsize>(chunks[c].size()));
            written += chunks[c].size();
        }
        if (windowsDone != nullptr) {
            windowsDone->store(std::min(windowCount, start + count * kChunk));
        }
    }
    result.end = written;
    result.path = file.Commit();
    return result;
}

std::string WindowFileWriter::FinishWithCornersOf(const Written& other) {
    LabelTheRest();
    Flush();
    const auto unreadable = [&other] {
        return std::runtime_error("The windows of '" + other.path +
                                  "' could not be read back to be copied into the results.");
    };
    std::ifstream in(other.path, std::ios::binary | std::ios::ate);
    if (!in || in.tellg() != static_cast<std::streamoff>(other.end) ||
        other.cornersBegin > other.end ||
        !in.seekg(static_cast<std::streamoff>(other.cornersBegin))) {
        throw unreadable();
    }
    std::vector<char> block(kFlushSize);
    for (std::size_t left = other.end - other.cornersBegin; left > 0;) {
        const std::size_t size = std::min(left, block.size());
        if (!in.read(block.data(), static_cast<std::streamsize>(size))) {
            throw unreadable();
        }
        file.Stream().write(block.data(), static_cast<std::streamsize>(size));
        left -= size;
    }
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
    written += buffer.size();
    buffer.clear();
}

}  // namespace velkar::ordana
