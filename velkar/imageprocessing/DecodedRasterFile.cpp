#include "velkar/imageprocessing/DecodedRasterFile.h"

#include <fcntl.h>
#include <unistd.h>

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

DecodedRasterFile::DecodedRasterFile(const RasterFile& file,
                                     const std::vector<RasterFile::OutputBand>& chosen)
    : path(file.Path()),
      width(file.Width()),
      height(file.Height()),
      bandCount(static_cast<int>(chosen.size())),
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
    const long long rowLength = static_cast<long long>(width) * bandCount;
    const long long levelBytes = rowLength * height;
    try {
        file.ReadFromTop(chosen, [&](const ImageFileSystem& strip) {
            const long long top = strip.OriginY();
            if (strip.Height() > 0 && rowLength > 0) {
                Write(strip.Row(0), static_cast<std::size_t>(rowLength * strip.Height()),
                      top * rowLength);
            }
            if (strip.HasMask() && strip.Height() > 0 && width > 0) {
                hasMask = true;
                Write(strip.MaskRow(0),
                      static_cast<std::size_t>(width) * static_cast<std::size_t>(strip.Height()),
                      levelBytes + top * width);
            }
        });
        // Rows of the mask no strip wrote read back as present.
        const long long size = levelBytes + (hasMask ? static_cast<long long>(width) * height : 0);
        if (ftruncate(descriptor, size) != 0) {
            throw RasterFile::Error(path, "the temporary folder '" + folder +
                                              "' has no room for its decoded pixels (" +
                                              std::strerror(errno) + ")");
        }
    } catch (...) {
        close(descriptor);
        throw;
    }
}

DecodedRasterFile::~DecodedRasterFile() { close(descriptor); }

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
    const long long rowLength = static_cast<long long>(width) * bandCount;
    const long long levelBytes = rowLength * height;
    std::vector<unsigned char> absent;
    if (hasMask) {
        absent.resize(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height));
    }
    const auto readBack = [this](unsigned char* into, std::size_t length, long long offset) {
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
    };
    for (int y = 0; y < area.height && area.width > 0; ++y) {
        const long long row = area.y + y;
        readBack(image->Row(y), static_cast<std::size_t>(area.width) * bandCount,
                 row * rowLength + static_cast<long long>(area.x) * bandCount);
        if (hasMask) {
            readBack(absent.data() + static_cast<std::size_t>(y) * area.width,
                     static_cast<std::size_t>(area.width), levelBytes + row * width + area.x);
        }
    }
    image->SetMask(std::move(absent));
    return image;
}

}  // namespace velkar::imageprocessing
