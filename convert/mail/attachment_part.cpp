#include "convert/mail/attachment_part.h"

#include <cstddef>
#include <memory>

#include "convert/mail/gobject_type.h"

namespace korvel::convert {

namespace {

// Raw bytes taken from libpff at a time.
constexpr std::size_t chunk_size = 16 * 1024;

struct attachment_part
{
    GMimePart parent;
    libpff_item_t *attachment;
    std::uint64_t size;
    const std::atomic<bool> *stop;
    gboolean failed;
};

struct attachment_part_class
{
    GMimePartClass parent_class;
};

attachment_part *as_attachment(GMimeObject *object)
{
    return reinterpret_cast<attachment_part *>(object);
}

bool seek_to_start(libpff_item_t *attachment)
{
    libpff_error_t *error = nullptr;
    off64_t offset = libpff_attachment_data_seek_offset(attachment, 0, SEEK_SET, &error);
    if (error != nullptr) {
        libpff_error_free(&error);
    }
    return offset == 0;
}

// The data in base64, straight from libpff into the stream. -1 when libpff
// or the stream failed (failed set for libpff).
ssize_t write_base64(attachment_part *part, GMimeStream *stream)
{
    if (!seek_to_start(part->attachment)) {
        part->failed = TRUE;
        return -1;
    }
    GMimeEncoding encoder;
    g_mime_encoding_init_encode(&encoder, GMIME_CONTENT_ENCODING_BASE64);
    std::unique_ptr<char[]> raw(new char[chunk_size]);
    std::unique_ptr<char[]> encoded(new char[g_mime_encoding_outlen(&encoder, chunk_size)]);
    ssize_t total = 0;
    for (std::uint64_t done = 0; done < part->size;) {
        if (part->stop != nullptr && part->stop->load()) {
            part->failed = TRUE;
            return -1;
        }
        std::uint64_t left = part->size - done;
        std::size_t want = left < chunk_size ? static_cast<std::size_t>(left) : chunk_size;
        libpff_error_t *error = nullptr;
        ssize_t got = libpff_attachment_data_read_buffer(
            part->attachment, reinterpret_cast<std::uint8_t *>(raw.get()), want, &error);
        if (error != nullptr) {
            libpff_error_free(&error);
        }
        if (got <= 0) {
            // Fewer bytes than the attachment's size: the data is damaged.
            part->failed = TRUE;
            return -1;
        }
        done += static_cast<std::uint64_t>(got);
        std::size_t n =
            g_mime_encoding_step(&encoder, raw.get(), static_cast<std::size_t>(got), encoded.get());
        if (n > 0 && g_mime_stream_write(stream, encoded.get(), n) == -1) {
            return -1;
        }
        total += static_cast<ssize_t>(n);
    }
    std::size_t n = g_mime_encoding_flush(&encoder, raw.get(), 0, encoded.get());
    if (n > 0 && g_mime_stream_write(stream, encoded.get(), n) == -1) {
        return -1;
    }
    return total + static_cast<ssize_t>(n);
}

// As GMime writes a part: its headers, a blank line, its content.
ssize_t attachment_write_to_stream(GMimeObject *object, GMimeFormatOptions *options,
                                   gboolean content_only, GMimeStream *stream)
{
    ssize_t total = 0;
    if (!content_only) {
        ssize_t n = g_mime_header_list_write_to_stream(object->headers, options, stream);
        if (n == -1) {
            return -1;
        }
        total += n;
        n = g_mime_stream_write_string(stream, g_mime_format_options_get_newline(options));
        if (n == -1) {
            return -1;
        }
        total += n;
    }
    ssize_t n = write_base64(as_attachment(object), stream);
    return n == -1 ? -1 : total + n;
}

void attachment_class_init(gpointer klass, gpointer)
{
    static_cast<GMimeObjectClass *>(klass)->write_to_stream = attachment_write_to_stream;
}

GType attachment_part_type()
{
    static const GType type = register_static_type<attachment_part, attachment_part_class>(
        GMIME_TYPE_PART, "KorvelAttachmentPart", attachment_class_init);
    return type;
}

} // namespace

GMimePart *attachment_part_new(const char *type, const char *subtype, const std::string &name,
                               libpff_item_t *attachment, std::uint64_t size,
                               const std::atomic<bool> *stop)
{
    auto *part = static_cast<attachment_part *>(g_object_new(attachment_part_type(), nullptr));
    part->attachment = attachment;
    part->size = size;
    part->stop = stop;
    part->failed = FALSE;
    GMimeObject *object = reinterpret_cast<GMimeObject *>(part);
    // The name goes in before the part takes the type: GMime formats the
    // header again on every change to a content type it holds.
    GMimeContentType *content_type = g_mime_content_type_new(type, subtype);
    if (!name.empty()) {
        g_mime_content_type_set_parameter(content_type, "name", name.c_str());
    }
    g_mime_object_set_content_type(object, content_type);
    g_object_unref(content_type);
    GMimePart *result = &part->parent;
    g_mime_part_set_content_encoding(result, GMIME_CONTENT_ENCODING_BASE64);
    return result;
}

bool attachment_part_failed(GMimePart *part)
{
    return part != nullptr && as_attachment(reinterpret_cast<GMimeObject *>(part))->failed;
}

} // namespace korvel::convert
