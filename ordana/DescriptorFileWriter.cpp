#include "ordana/DescriptorFileWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "ordana/OutputFile.h"
#include "velkar/util/Parallel.h"

namespace velkar::ordana {

namespace {

using FlatDescriptors = DescriptorFileWriter::FlatDescriptors;

// Consecutive descriptors of one block, formatted as one piece of text.
struct Chunk {
    const FlatDescriptors* block = nullptr;
    std::size_t first = 0;
    std::size_t end = 0;
};

// The text of a round of chunks: one buffer per chunk, large enough for its longest text, and
// the length each holds.
struct Round {
    std::vector<std::vector<char>> texts;
    std::vector<std::size_t> lengths;
    std::size_t count = 0;
};

void WriteRound(std::ostream& out, const Round& round) {
    for (std::size_t c = 0; c < round.count; ++c) {
        out.write(round.texts[c].data(), static_cast<std::streamsize>(round.lengths[c]));
    }
}

// Writes the rounds handed to it, in order, on a thread of its own. Hand returns once the round
// handed before is written, so that its buffers can be formatted again.
class RoundWriter {
  public:
    explicit RoundWriter(std::ostream& out) : out(out), thread([this] { Run(); }) {}
    ~RoundWriter() {
        {
            const std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }
    RoundWriter(const RoundWriter&) = delete;
    RoundWriter& operator=(const RoundWriter&) = delete;

    void Hand(const Round& round) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return pending == nullptr; });
        pending = &round;
        guard.unlock();
        changed.notify_all();
    }
    void Finish() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return pending == nullptr; });
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> guard(lock);
        while (true) {
            changed.wait(guard, [this] { return pending != nullptr || stopping; });
            if (pending == nullptr) {
                return;
            }
            guard.unlock();
            WriteRound(out, *pending);
            guard.lock();
            pending = nullptr;
            changed.notify_all();
        }
    }

    std::ostream& out;
    std::mutex lock;
    std::condition_variable changed;
    const Round* pending = nullptr;
    bool stopping = false;
    std::thread thread;
};

}  // namespace

char* DescriptorFileWriter::FormatValue(double value, char* out) {
    // Most texture values are 0, which "%.15g" prints as "0" (-0 keeps its sign below).
    if (value == 0.0 && !std::signbit(value)) {
        *out = '0';
        return out + 1;
    }
    return std::to_chars(out, out + kValueChars, value, std::chars_format::general, 15).ptr;
}

std::string DescriptorFileWriter::Write(const std::string& path, const ClassOf& classOf,
                                        const std::vector<FlatDescriptors>& blocks,
                                        int featureCount) {
    OutputFile file(path);
    const std::size_t length = static_cast<std::size_t>(std::max(featureCount, 0));
    std::size_t count = 0;
    for (const FlatDescriptors& block : blocks) {
        count += block.polygonIds.size();
    }
    // Chunks of at most kChunkValues values keep a round's text small enough to stay in the
    // caches between its formatting and its writing; a short file still makes a chunk for every
    // thread. Several chunks per thread even out chunks that take longer than others.
    constexpr std::size_t kChunkValues = 1 << 14;
    const std::size_t threads = static_cast<std::size_t>(std::max(util::MaxThreads(), 1));
    const std::size_t roundChunks = threads * 4;
    const std::size_t perChunk =
        std::max<std::size_t>(std::min(kChunkValues / std::max<std::size_t>(length, 1),
                                       (count + roundChunks - 1) / roundChunks),
                              1);
    std::vector<Chunk> chunks;
    std::size_t longestClass = 0;
    for (const FlatDescriptors& block : blocks) {
        const std::size_t size = block.polygonIds.size();
        for (std::size_t first = 0; first < size; first += perChunk) {
            chunks.push_back({&block, first, std::min(size, first + perChunk)});
        }
        int lastId = -1;
        for (std::size_t d = 0; d < size; ++d) {
            if (d == 0 || block.polygonIds[d] != lastId) {
                lastId = block.polygonIds[d];
                longestClass = std::max(longestClass, classOf(lastId).size());
            }
        }
    }
    const std::size_t chunkText = perChunk * (longestClass + (kValueChars + 1) * length + 1);

    const auto format = [&](const Chunk& chunk, char* out) {
        const double* values = chunk.block->values.data();
        const std::vector<int>& ids = chunk.block->polygonIds;
        std::string className;
        for (std::size_t d = chunk.first; d < chunk.end; ++d) {
            if (d == chunk.first || ids[d] != ids[d - 1]) {
                className = classOf(ids[d]);
            }
            std::memcpy(out, className.data(), className.size());
            out += className.size();
            for (std::size_t k = 0; k < length; ++k) {
                *out++ = ' ';
                out = FormatValue(values[d * length + k], out);
            }
            *out++ = '\n';
        }
        return out;
    };
    // Two rounds: one is written while the other is formatted.
    Round rounds[2];
    for (Round& round : rounds) {
        round.texts.resize(std::min(roundChunks, chunks.size()));
        round.lengths.resize(round.texts.size());
    }
    std::optional<RoundWriter> writer;
    if (threads > 1) {
        writer.emplace(file.Stream());
    }
    for (std::size_t start = 0, r = 0; start < chunks.size(); start += roundChunks, r ^= 1) {
        Round& round = rounds[r];
        round.count = std::min(roundChunks, chunks.size() - start);
        util::ParallelFor(round.count, [&](std::size_t c) {
            std::vector<char>& text = round.texts[c];
            if (text.size() < chunkText) {
                text.resize(chunkText);
            }
            round.lengths[c] =
                static_cast<std::size_t>(format(chunks[start + c], text.data()) - text.data());
        });
        if (writer) {
            writer->Hand(round);
        } else {
            WriteRound(file.Stream(), round);
        }
    }
    if (writer) {
        writer->Finish();
    }
    writer.reset();
    return file.Commit();
}

}  // namespace velkar::ordana
