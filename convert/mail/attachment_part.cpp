#include "convert/mail/attachment_part.h"

#include <cstddef>
#include <memory>

#include <gmime/gmime.h>

namespace korvel::convert {

namespace {

// Raw bytes taken from libpff at a time.
constexpr std::size_t chunk_size = 16 * 1024;

bool seek_to_start(libpff_item_t *attachment)
{
    libpff_error_t *error = nullptr;
    off64_t offset = libpff_attachment_data_seek_offset(attachment, 0, SEEK_SET, &error);
    if (error != nullptr) {
        libpff_error_free(&error);
    }
    return offset == 0;
}

} // namespace

attachment_write write_attachment_base64(libpff_item_t *attachment, std::uint64_t size,
                                         const std::atomic<bool> *stop, fd_writer &out)
{
    if (!seek_to_start(attachment)) {
        return attachment_write::data_failed;
    }
    GMimeEncoding encoder;
    g_mime_encoding_init_encode(&encoder, GMIME_CONTENT_ENCODING_BASE64);
    std::unique_ptr<char[]> raw(new char[chunk_size]);
    std::unique_ptr<char[]> encoded(new char[g_mime_encoding_outlen(&encoder, chunk_size)]);
    for (std::uint64_t done = 0; done < size;) {
        if (stop != nullptr && stop->load()) {
            return attachment_write::data_failed;
        }
        std::uint64_t left = size - done;
        std::size_t want = left < chunk_size ? static_cast<std::size_t>(left) : chunk_size;
        libpff_error_t *error = nullptr;
        ssize_t got = libpff_attachment_data_read_buffer(
            attachment, reinterpret_cast<std::uint8_t *>(raw.get()), want, &error);
        if (error != nullptr) {
            libpff_error_free(&error);
        }
        if (got <= 0) {
            // Fewer bytes than the attachment's size: the data is damaged.
            return attachment_write::data_failed;
        }
        done += static_cast<std::uint64_t>(got);
        std::size_t n =
            g_mime_encoding_step(&encoder, raw.get(), static_cast<std::size_t>(got), encoded.get());
        if (n > 0 && !out.write(encoded.get(), n)) {
            return attachment_write::output_failed;
        }
    }
    std::size_t n = g_mime_encoding_flush(&encoder, raw.get(), 0, encoded.get());
    if (n > 0 && !out.write(encoded.get(), n)) {
        return attachment_write::output_failed;
    }
    return attachment_write::written;
}

} // namespace korvel::convert
