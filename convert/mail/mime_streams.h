// Where the mail formats write: a file descriptor (or memory) through a
// buffer, quoting "From " lines the mboxrd way when asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel::convert {

// Buffered writing to a file descriptor (not owned). With mboxrd set, every
// line that starts with zero or more ">" followed by "From " gets one more
// ">" in front. Without a descriptor it writes into memory only, for a
// message made ready away from the output (take() gives the bytes).
class fd_writer
{
public:
    fd_writer(int fd, bool mboxrd);
    explicit fd_writer(bool mboxrd) : fd_writer(-1, mboxrd) {}
    // Writes through the buffer (quoting when mboxrd). False once a write failed.
    bool write(const char *data, std::size_t size);
    // Writes without quoting (the mbox "From " separator line).
    bool write_raw(const char *data, std::size_t size);
    // Ends a message: writes what the quoting still holds, then a line end
    // when the message did not end with one.
    bool end_message();
    bool flush();
    // Drops the buffered bytes and the quoting state, and cuts the file back
    // to offset (a message that failed half-way). False when that failed.
    bool truncate_to(std::uint64_t offset);
    // Bytes written so far, counting the buffered ones (the file offset after
    // a flush).
    std::uint64_t offset() const { return m_offset + m_buffer.size(); }
    // errno of the first failed write, 0 when none failed.
    int error() const { return m_error; }
    // The bytes written into memory; the writer is empty after.
    std::vector<char> take();

private:
    bool put(const char *data, std::size_t size);
    int m_fd;
    bool m_mboxrd;
    std::vector<char> m_buffer;
    std::uint64_t m_offset = 0;
    int m_error = 0;
    bool m_line_start = true;
    // The start of a line that may still turn out to be ">*From ".
    std::string m_pending;
    char m_last = '\n';
};

} // namespace korvel::convert
