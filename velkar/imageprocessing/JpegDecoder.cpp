#include "velkar/imageprocessing/JpegDecoder.h"

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

namespace velkar::imageprocessing {

namespace {

// The samples reserved before the first row: all of a picture of up to 16 MiB.
constexpr std::size_t kFirstReserve = std::size_t{16} << 20;

// libjpeg ends a failed decode by calling error_exit, which must not return: it jumps back to
// the decoder's set point with the message kept.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char earlyEnd[JMSG_LENGTH_MAX];
};

void ExitWithMessage(j_common_ptr decoder) {
    auto* manager = reinterpret_cast<ErrorManager*>(decoder->err);
    manager->base.format_message(decoder, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (level -1) are kept when they say the data ended early; trace messages are dropped.
void KeepWarning(j_common_ptr decoder, int level) {
    auto* manager = reinterpret_cast<ErrorManager*>(decoder->err);
    if (level < 0 && decoder->err->msg_code == JWRN_JPEG_EOF && manager->earlyEnd[0] == '\0') {
        manager->base.format_message(decoder, manager->earlyEnd);
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The decode itself, free of objects with destructors between setjmp and longjmp. Returns 0
// when done, 1 on an error (message set), 2 when the file is not one this decoder takes.
int DecodeInto(std::FILE* file, long long maxPixels, ErrorManager& errors,
               jpeg_decompress_struct& decoder, JpegDecoder::Picture& picture,
               std::vector<unsigned char>& inkRow) {
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&decoder);
        return 1;
    }
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    const bool grey = decoder.jpeg_color_space == JCS_GRAYSCALE && decoder.num_components == 1;
    const bool colour = (decoder.jpeg_color_space == JCS_YCbCr ||
                         decoder.jpeg_color_space == JCS_RGB) &&
                        decoder.num_components == 3;
    const bool inks = (decoder.jpeg_color_space == JCS_CMYK ||
                       decoder.jpeg_color_space == JCS_YCCK) &&
                      decoder.num_components == 4;
    const long long pixels = static_cast<long long>(decoder.image_width) * decoder.image_height;
    if ((!grey && !colour && !inks) || decoder.data_precision != 8 || pixels > maxPixels) {
        jpeg_destroy_decompress(&decoder);
        return 2;
    }
    decoder.out_color_space = grey ? JCS_GRAYSCALE : inks ? JCS_CMYK : JCS_RGB;
    decoder.dct_method = JDCT_IFAST;
    decoder.do_fancy_upsampling = FALSE;
    picture.width = static_cast<int>(decoder.image_width);
    picture.height = static_cast<int>(decoder.image_height);
    picture.components = grey ? 1 : 3;
    const std::size_t rowLength =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.components);
    const std::size_t wholeLength = rowLength * static_cast<std::size_t>(picture.height);
    try {
        picture.samples.reserve(std::min(wholeLength, kFirstReserve));
        inkRow.assign(inks ? 4 * static_cast<std::size_t>(picture.width) : 0, 0);
    } catch (const std::bad_alloc&) {
        jpeg_destroy_decompress(&decoder);
        return 3;
    }
    jpeg_start_decompress(&decoder);
    // The samples grow as rows are decoded, and decoding stops where the data end (libjpeg
    // would fill the rest), so a file declaring more than it holds takes memory for what it
    // holds.
    while (decoder.output_scanline < decoder.output_height && errors.earlyEnd[0] == '\0') {
        const std::size_t needed = rowLength * (decoder.output_scanline + 1);
        try {
            if (needed > picture.samples.capacity()) {
                picture.samples.reserve(
                    std::min(wholeLength, std::max(needed, 2 * picture.samples.capacity())));
            }
            picture.samples.resize(needed);
        } catch (const std::bad_alloc&) {
            jpeg_destroy_decompress(&decoder);
            return 3;
        }
        unsigned char* out = picture.samples.data() + rowLength * decoder.output_scanline;
        JSAMPROW row = inks ? inkRow.data() : out;
        jpeg_read_scanlines(&decoder, &row, 1);
        // Inks as libjpeg gives them (inverted, as Adobe writes them) become red, green and
        // blue by C K / 255, M K / 255, Y K / 255, rounded down.
        for (std::size_t x = 0; inks && x < static_cast<std::size_t>(picture.width); ++x) {
            const unsigned black = inkRow[4 * x + 3];
            for (std::size_t c = 0; c < 3; ++c) {
                out[3 * x + c] = static_cast<unsigned char>(inkRow[4 * x + c] * black / 255);
            }
        }
    }
    if (errors.earlyEnd[0] == '\0') {
        jpeg_finish_decompress(&decoder);
    }
    jpeg_destroy_decompress(&decoder);
    return 0;
}

}  // namespace

std::optional<JpegDecoder::Picture> JpegDecoder::Decode(const std::string& path,
                                                         long long maxPixels) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    unsigned char magic[3] = {0, 0, 0};
    if (std::fread(magic, 1, 3, file.get()) != 3 || magic[0] != 0xff || magic[1] != 0xd8 ||
        magic[2] != 0xff) {
        return std::nullopt;
    }
    std::rewind(file.get());

    ErrorManager errors{};
    jpeg_decompress_struct decoder{};
    decoder.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ExitWithMessage;
    errors.base.emit_message = KeepWarning;
    Picture picture;
    std::vector<unsigned char> inkRow;
    const int outcome = DecodeInto(file.get(), maxPixels, errors, decoder, picture, inkRow);
    switch (outcome) {
        case 0:
            break;
        case 1:
            throw std::runtime_error(errors.message);
        case 3:
            throw std::bad_alloc();
        default:
            return std::nullopt;
    }
    picture.earlyEnd = errors.earlyEnd;
    return picture;
}

}  // namespace velkar::imageprocessing
