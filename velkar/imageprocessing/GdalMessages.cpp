#include "velkar/imageprocessing/GdalMessages.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_frmts.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string_view>

namespace velkar::imageprocessing {

namespace {

thread_local GdalMessages* innermost = nullptr;

constexpr std::size_t kMostMessages = 64;

void Drop(CPLErr, CPLErrorNum, const char*) {}

// GDAL prefixes what libjpeg says and appends how to make its warnings errors; only the
// decoder's own words tell the user anything.
std::string Cleaned(std::string_view message) {
    constexpr std::string_view kPrefix = "libjpeg: ";
    if (message.starts_with(kPrefix)) {
        message.remove_prefix(kPrefix.size());
    }
    const std::size_t advice = message.find(" (this warning can be turned");
    if (advice != std::string_view::npos) {
        message = message.substr(0, advice);
    }
    return std::string(message);
}

}  // namespace

void GdalMessages::Prepare() {
    static std::once_flag prepared;
    std::call_once(prepared, [] {
        CPLSetErrorHandler(Drop);
        // GDAL lists a file's folder to find its side files (world files, masks); the folders
        // of this program fill with hundreds of outputs, and asking for the few side-file
        // names costs less. A setting of the caller's own stays.
        if (CPLGetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr) == nullptr) {
            CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
        }
        // Registering all of GDAL's drivers takes longer than reading a small picture.
        GDALRegister_GTiff();
        GDALRegister_PNG();
        GDALRegister_JPEG();
        GDALRegister_GIF();
        GDALRegister_BMP();
        GDALRegister_MEM();
        GDALSetCacheMax64(kBlockCacheBytes);
    });
}

void GdalMessages::RegisterAllDrivers() {
    Prepare();
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
}

GdalMessages::GdalMessages() : outer(innermost) {
    Prepare();
    innermost = this;
    CPLPushErrorHandlerEx(
        [](CPLErr severity, CPLErrorNum number, const char* message) {
            Hear(static_cast<int>(severity), number, message);
        },
        this);
}

GdalMessages::~GdalMessages() {
    CPLPopErrorHandler();
    innermost = outer;
}

void GdalMessages::Hear(int severity, int, const char* message) {
    // Debugging notes appear only when GDAL is asked for them; they explain nothing to a user.
    if (severity == CE_Debug || severity == CE_None || innermost == nullptr) {
        return;
    }
    if (severity == CE_Failure || severity == CE_Fatal) {
        innermost->heardError = true;
    }
    auto& heard = innermost->messages;
    if (heard.size() < kMostMessages) {
        heard.push_back(Cleaned(message != nullptr ? message : ""));
    }
}

std::optional<std::string> GdalMessages::EarlyEnd() const {
    for (const std::string& message : messages) {
        std::string lower = message;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        // libjpeg and giflib say so; libtiff says how many bytes a strip or tile lacked.
        if (lower.find("premature end") != std::string::npos ||
            lower.find("unexpected end") != std::string::npos ||
            (lower.find("read error at") != std::string::npos &&
             lower.find("bytes, expected") != std::string::npos)) {
            return message;
        }
    }
    return std::nullopt;
}

std::string GdalMessages::First() const {
    return messages.empty() ? "" : " (" + messages.front() + ")";
}

}  // namespace velkar::imageprocessing
