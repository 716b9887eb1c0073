#include "convert/mail/mime_streams.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "convert/mail/gobject_type.h"

namespace korvel::convert {

namespace {

// ---- output ---------------------------------------------------------------

struct writer_stream
{
    GMimeStream parent;
    fd_writer *writer;
};

struct writer_stream_class
{
    GMimeStreamClass parent_class;
};

fd_writer *writer_of(GMimeStream *stream)
{
    return reinterpret_cast<writer_stream *>(stream)->writer;
}

ssize_t writer_read(GMimeStream *, char *, size_t)
{
    return -1;
}

ssize_t writer_write(GMimeStream *stream, const char *data, size_t length)
{
    if (!writer_of(stream)->write(data, length)) {
        return -1;
    }
    stream->position += static_cast<gint64>(length);
    return static_cast<ssize_t>(length);
}

int writer_flush(GMimeStream *stream)
{
    return writer_of(stream)->flush() ? 0 : -1;
}
int writer_close(GMimeStream *)
{
    return 0;
}
gboolean writer_eos(GMimeStream *)
{
    return FALSE;
}
int writer_reset(GMimeStream *)
{
    return -1;
}
gint64 writer_seek(GMimeStream *, gint64, GMimeSeekWhence)
{
    return -1;
}
gint64 writer_tell(GMimeStream *stream)
{
    return stream->position;
}
gint64 writer_length(GMimeStream *)
{
    return -1;
}

GMimeStream *no_substream(GMimeStream *, gint64, gint64)
{
    return nullptr;
}

void writer_class_init(gpointer klass, gpointer)
{
    GMimeStreamClass *c = static_cast<GMimeStreamClass *>(klass);
    c->read = writer_read;
    c->write = writer_write;
    c->flush = writer_flush;
    c->close = writer_close;
    c->eos = writer_eos;
    c->reset = writer_reset;
    c->seek = writer_seek;
    c->tell = writer_tell;
    c->length = writer_length;
    c->substream = no_substream;
}

GType writer_stream_type()
{
    static const GType type = register_static_type<writer_stream, writer_stream_class>(
        g_mime_stream_get_type(), "KorvelWriterStream", writer_class_init);
    return type;
}

constexpr std::size_t buffer_limit = 256 * 1024;
constexpr std::string_view from_word = "From ";

} // namespace

GMimeStream *writer_stream_new(fd_writer *writer)
{
    auto *s = static_cast<writer_stream *>(g_object_new(writer_stream_type(), nullptr));
    s->writer = writer;
    GMimeStream *stream = &s->parent;
    g_mime_stream_construct(stream, 0, -1);
    return stream;
}

// The buffer grows as it fills: an EML file has a writer of its own, and most
// messages are a small part of the limit.
fd_writer::fd_writer(int fd, bool mboxrd) : m_fd(fd), m_mboxrd(mboxrd) {}

bool fd_writer::put(const char *data, std::size_t size)
{
    if (m_error != 0) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    m_last = data[size - 1];
    if (m_fd < 0) {
        m_buffer.insert(m_buffer.end(), data, data + size);
        return true;
    }
    if (m_buffer.size() + size > buffer_limit) {
        if (!flush()) {
            return false;
        }
    }
    if (size >= buffer_limit) {
        m_buffer.assign(data, data + size);
        return flush();
    }
    m_buffer.insert(m_buffer.end(), data, data + size);
    return true;
}

bool fd_writer::write_raw(const char *data, std::size_t size)
{
    return put(data, size);
}

bool fd_writer::write(const char *data, std::size_t size)
{
    if (!m_mboxrd) {
        return put(data, size);
    }
    std::size_t i = 0;
    while (i < size) {
        if (m_line_start) {
            // Decide whether this line is ">*From ", one byte at a time.
            char c = data[i];
            std::size_t quotes = m_pending.find_first_not_of('>');
            if (quotes == std::string::npos) {
                quotes = m_pending.size();
            }
            std::size_t matched = m_pending.size() - quotes;
            if (matched == 0 && c == '>' && m_pending.size() < 4096) {
                m_pending.push_back(c);
                ++i;
                continue;
            }
            if (c == from_word[matched]) {
                m_pending.push_back(c);
                ++i;
                if (matched + 1 == from_word.size()) {
                    if (!put(">", 1) || !put(m_pending.data(), m_pending.size())) {
                        return false;
                    }
                    m_pending.clear();
                    m_line_start = false;
                }
                continue;
            }
            if (!put(m_pending.data(), m_pending.size())) {
                return false;
            }
            m_pending.clear();
            m_line_start = false;
            // c is handled below as ordinary text.
        }
        const char *start = data + i;
        const void *newline = std::memchr(start, '\n', size - i);
        std::size_t run =
            newline == nullptr
                ? size - i
                : static_cast<std::size_t>(static_cast<const char *>(newline) - start) + 1;
        if (!put(start, run)) {
            return false;
        }
        i += run;
        if (newline != nullptr) {
            m_line_start = true;
        }
    }
    return true;
}

bool fd_writer::end_message()
{
    if (!m_pending.empty()) {
        if (!put(m_pending.data(), m_pending.size())) {
            return false;
        }
        m_pending.clear();
    }
    m_line_start = true;
    if (m_last != '\n') {
        return put("\n", 1);
    }
    return m_error == 0;
}

bool fd_writer::flush()
{
    if (m_error != 0) {
        return false;
    }
    if (m_fd < 0) {
        return true; // the bytes stay until taken
    }
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_error = errno;
            return false;
        }
        if (n == 0) {
            m_error = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    m_offset += m_buffer.size();
    m_buffer.clear();
    return true;
}

std::vector<char> fd_writer::take()
{
    std::vector<char> out;
    out.swap(m_buffer);
    m_offset += out.size();
    return out;
}

bool fd_writer::truncate_to(std::uint64_t offset)
{
    m_pending.clear();
    m_line_start = true;
    m_last = '\n';
    if (offset >= m_offset && offset - m_offset <= m_buffer.size()) {
        // The message is still in the buffer, or partly: keep what came before it.
        m_buffer.resize(static_cast<std::size_t>(offset - m_offset));
        return m_error == 0;
    }
    m_buffer.clear();
    if (offset > m_offset) {
        return false;
    }
    if (::ftruncate(m_fd, static_cast<off_t>(offset)) != 0 ||
        ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        if (m_error == 0) {
            m_error = errno;
        }
        return false;
    }
    m_offset = offset;
    return m_error == 0;
}

} // namespace korvel::convert
