#include "velkar/imageprocessing/DecodedRasterFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace velkar::imageprocessing {

namespace {

// A file of no name in folder, open for reading and writing; -1 when none can be made.
int UnnamedFile(const std::string& folder) {
#ifdef O_TMPFILE
    const int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
        return descriptor;
    }
#endif
    // File systems without unnamed files: a named one, unlinked at once.
    std::string name = folder + "/velkar-pixels-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        unlink(name.c_str());
    }
    return named;
}

}  // namespace

DecodedRasterFile::DecodedRasterFile(const RasterFile& file, int bandCount)
    : path(file.Path()),
      width(file.Width()),
      height(file.Height()),
      bandCount(bandCount),
      georeference(file.GetGeoreference()) {
    std::error_code error;
    folder = std::filesystem::temp_directory_path(error).string();
    if (error) {
        folder = "/tmp";
    }
    descriptor = UnnamedFile(folder);
    if (descriptor < 0) {
        throw RasterFile::Error(path, "no temporary file for its decoded pixels can be made in '" +
                                          folder + "' (" + std::strerror(errno) + ")");
    }
}

DecodedRasterFile::DecodedRasterFile(const RasterFile& file,
                                     const std::vector<RasterFile::OutputBand>& chosen)
    : DecodedRasterFile(file, static_cast<int>(chosen.size())) {
    // The delegated constructor has finished, so the destructor closes the file on a throw.
    Decode(file, chosen);
}

DecodedRasterFile::DecodedRasterFile(const RasterFile& file,
                                     const std::vector<RasterFile::OutputBand>& chosen,
                                     InBackground)
    : DecodedRasterFile(file, static_cast<int>(chosen.size())) {
    decoder = std::thread([this, &file, chosen] {
        std::exception_ptr failed;
        try {
            Decode(file, chosen);
        } catch (...) {
            failed = std::current_exception();
        }
        const std::lock_guard<std::mutex> guard(lock);
        failure = failed;
        finished = true;
        progressed.notify_all();
    });
}

namespace {

// Ends a decoding whose file is no longer wanted.
struct DecodingStopped {};

}  // namespace

void DecodedRasterFile::Decode(const RasterFile& file,
                               const std::vector<RasterFile::OutputBand>& chosen) {
    const long long levelBytes = static_cast<long long>(width) * bandCount * height;
    // The mask's place is kept from the start (a hole reads as present), so that rows read
    // while later strips decode find it whether or not a mask turns up further down.
    if (ftruncate(descriptor, levelBytes + static_cast<long long>(width) * height) != 0) {
        throw RasterFile::Error(path, "the temporary folder '" + folder +
                                          "' has no room for its decoded pixels (" +
                                          std::strerror(errno) + ")");
    }
    std::vector<unsigned char> gathered;
    try {
        file.ReadFromTop(chosen, [&](const ImageFileSystem& strip) {
            const int top = strip.OriginY();
            if (strip.Height() > 0 && width > 0 && bandCount > 0) {
                WriteRows(strip.Row(0), top, strip.Height(), bandCount, 0, gathered);
            }
            const bool masked = strip.HasMask() && strip.Height() > 0 && width > 0;
            if (masked) {
                WriteRows(strip.MaskRow(0), top, strip.Height(), 1, levelBytes, gathered);
            }
            const std::lock_guard<std::mutex> guard(lock);
            hasMask = hasMask || masked;
            rowsDone = static_cast<long long>(top) + strip.Height();
            progressed.notify_all();
            if (stopping) {
                throw DecodingStopped();
            }
        });
    } catch (const DecodingStopped&) {
        return;
    }
    const std::lock_guard<std::mutex> guard(lock);
    rowsDone = height;
}

DecodedRasterFile::~DecodedRasterFile() {
    if (decoder.joinable()) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        decoder.join();
    }
    close(descriptor);
}

bool DecodedRasterFile::HasMask() const {
    const std::lock_guard<std::mutex> guard(lock);
    return hasMask;
}

bool DecodedRasterFile::WaitForRows(long long end) const {
    std::unique_lock<std::mutex> guard(lock);
    progressed.wait(guard, [&] { return rowsDone >= end || finished; });
    if (rowsDone < end) {
        if (failure) {
            std::rethrow_exception(failure);
        }
        throw RasterFile::Error(path, "its decoding stopped before row " + std::to_string(end));
    }
    return hasMask;
}

void DecodedRasterFile::Write(const unsigned char* data, std::size_t length, long long offset) {
    while (length > 0) {
        const ssize_t written = pwrite(descriptor, data, length, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw RasterFile::Error(path, "the temporary folder '" + folder +
                                              "' has no room for its decoded pixels (" +
                                              std::strerror(written < 0 ? errno : ENOSPC) + ")");
        }
        data += written;
        length -= static_cast<std::size_t>(written);
        offset += written;
    }
}

std::shared_ptr<ImageFileSystem> DecodedRasterFile::Read(const RasterFile::Rectangle& area) const {
    if (area.x < 0 || area.y < 0 || area.width < 0 || area.height < 0 ||
        static_cast<long long>(area.x) + area.width > width ||
        static_cast<long long>(area.y) + area.height > height) {
        throw std::invalid_argument("The rectangle of " + std::to_string(area.width) + " x " +
                                    std::to_string(area.height) + " pixels at (" +
                                    std::to_string(area.x) + ", " + std::to_string(area.y) +
                                    ") does not lie inside '" + path + "'");
    }
    auto image = ImageFileSystem::Create(path, area.width, area.height, bandCount);
    image->SetGeoreference(georeference);
    image->SetOrigin(area.x, area.y);
    const bool masked = WaitForRows(static_cast<long long>(area.y) + area.height);
    std::vector<unsigned char> absent;
    if (area.width > 0 && area.height > 0) {
        ReadRows(area, bandCount, 0, image->Row(0));
        if (masked) {
            absent.resize(static_cast<std::size_t>(area.width) *
                          static_cast<std::size_t>(area.height));
            ReadRows(area, 1, static_cast<long long>(width) * bandCount * height, absent.data());
        }
    }
    image->SetMask(std::move(absent));
    return image;
}

int DecodedRasterFile::BlockWidth(int block) const {
    return std::min(kBlockColumns, width - block * kBlockColumns);
}

long long DecodedRasterFile::BlockRowOffset(int block, long long row, int pixelBytes) const {
    // Every block before this one is kBlockColumns wide.
    return (static_cast<long long>(block) * kBlockColumns * height +
            row * BlockWidth(block)) *
           pixelBytes;
}

void DecodedRasterFile::WriteRows(const unsigned char* data, int top, int rows, int pixelBytes,
                                  long long base, std::vector<unsigned char>& gathered) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * pixelBytes;
    for (int block = 0; block * kBlockColumns < width; ++block) {
        const std::size_t blockRowBytes = static_cast<std::size_t>(BlockWidth(block)) * pixelBytes;
        gathered.resize(blockRowBytes * static_cast<std::size_t>(rows));
        const unsigned char* source =
            data + static_cast<std::size_t>(block) * kBlockColumns * pixelBytes;
        for (int y = 0; y < rows; ++y) {
            std::memcpy(gathered.data() + static_cast<std::size_t>(y) * blockRowBytes,
                        source + static_cast<std::size_t>(y) * rowBytes, blockRowBytes);
        }
        Write(gathered.data(), gathered.size(), base + BlockRowOffset(block, top, pixelBytes));
    }
}

void DecodedRasterFile::ReadRows(const RasterFile::Rectangle& area, int pixelBytes,
                                 long long base, unsigned char* into) const {
    // Each read takes whole block rows, at most about this many bytes at a time.
    constexpr std::size_t kReadBytes = std::size_t{1} << 18;
    const std::size_t targetRowBytes = static_cast<std::size_t>(area.width) * pixelBytes;
    std::vector<unsigned char> rows;
    const int firstBlock = area.x / kBlockColumns;
    const int lastBlock = (area.x + area.width - 1) / kBlockColumns;
    for (int block = firstBlock; block <= lastBlock; ++block) {
        const int blockLeft = block * kBlockColumns;
        const int left = std::max(area.x, blockLeft);
        const int right = std::min(area.x + area.width, blockLeft + BlockWidth(block));
        const std::size_t blockRowBytes = static_cast<std::size_t>(BlockWidth(block)) * pixelBytes;
        const int rowsPerRead =
            static_cast<int>(std::max<std::size_t>(1, kReadBytes / blockRowBytes));
        for (int y = 0; y < area.height; y += rowsPerRead) {
            const int count = std::min(rowsPerRead, area.height - y);
            rows.resize(blockRowBytes * static_cast<std::size_t>(count));
            ReadBack(rows.data(), rows.size(),
                     base + BlockRowOffset(block, static_cast<long long>(area.y) + y, pixelBytes));
            for (int r = 0; r < count; ++r) {
                std::memcpy(into + static_cast<std::size_t>(y + r) * targetRowBytes +
                                static_cast<std::size_t>(left - area.x) * pixelBytes,
                            rows.data() + static_cast<std::size_t>(r) * blockRowBytes +
                                static_cast<std::size_t>(left - blockLeft) * pixelBytes,
                            static_cast<std::size_t>(right - left) * pixelBytes);
            }
        }
    }
}

void DecodedRasterFile::ReadBack(unsigned char* into, std::size_t length, long long offset) const {
    while (length > 0) {
        const ssize_t got = pread(descriptor, into, length, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw RasterFile::Error(path,
                                    "its decoded pixels cannot be read back from the "
                                    "temporary folder '" +
                                        folder + "'");
        }
        into += got;
        length -= static_cast<std::size_t>(got);
        offset += got;
    }
}

}  // namespace velkar::imageprocessing
