#pragma once

// The messages GDAL gives on this thread while a GdalMessages lives, kept off the standard
// streams: they serve only to say why an image cannot be read or written. Collectors nest; the
// innermost one on a thread hears GDAL. Making the first collector also prepares GDAL for the
// whole process, once: the drivers of the common picture formats registered (TIFF, PNG, JPEG,
// GIF, BMP and the in-memory one; RegisterAllDrivers adds the others, which takes longer), the
// block cache capped at kBlockCacheBytes (so that reading rectangles of a scene larger than memory
// never holds the scene), side files looked for by name rather than by listing the folder, and
// every message given outside a collector dropped.

#include <optional>
#include <string>
#include <vector>

namespace velkar::imageprocessing {

class GdalMessages {
  public:
    static constexpr long long kBlockCacheBytes = 128LL << 20;

    GdalMessages();
    ~GdalMessages();
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;

    // Prepares GDAL as described above; later calls do nothing. Thread-safe.
    static void Prepare();
    // Registers every driver GDAL has, once; later calls do nothing. Thread-safe.
    static void RegisterAllDrivers();

    // The warnings and errors heard so far, at most 64 (a damaged file can make a decoder repeat
    // itself), without the decoder's advice on GDAL settings.
    const std::vector<std::string>& All() const { return messages; }
    // Whether an error (not only a warning) was heard.
    bool HeardError() const { return heardError; }
    // The first message that says the data ended before the pixels did, or none.
    std::optional<std::string> EarlyEnd() const;
    // " (first message)", or empty when nothing was heard.
    std::string First() const;

  private:
    static void Hear(int severity, int number, const char* message);

    std::vector<std::string> messages;
    bool heardError = false;
    GdalMessages* outer;
};

}  // namespace velkar::imageprocessing
