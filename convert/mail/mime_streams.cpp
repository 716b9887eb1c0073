#include "convert/mail/mime_streams.h"

#include <cerrno>
#include <cstring>

#include <string_view>

#include <unistd.h>

namespace korvel::convert {

namespace {

constexpr std::size_t buffer_limit = 256 * 1024;
constexpr std::string_view from_word = "From ";

} // namespace

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
