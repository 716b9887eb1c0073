// One part of a message we write, kept as its formatted header lines and its
// content (mime_headers.h says why not as GMime's objects), and the writer
// that puts a tree of them out as GMime writes its own: the same boundary
// lines, line ends and blank lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <libpff.h>

#include "convert/mail/mime_streams.h"

namespace korvel::convert {

struct mime_part
{
    enum class kind
    {
        text,       // content holds the bytes, encoded already
        multipart,  // children, between boundary lines
        attachment, // the attachment's data in base64, read while written
        message,    // message/rfc822: content holds the message's header block
                    // (the body's own headers included), children its body
    };
    kind what = kind::text;
    // The part's header lines, as header_lines formats them.
    std::string headers;
    std::string content;
    std::string boundary;
    std::vector<mime_part> children;
    // A message: its body ends with a line end (GMime ends the body of a
    // message it made so, not of one it parsed).
    bool body_ends_line = true;
    // An attachment: its item (not owned), data size and place in the
    // message's build order.
    libpff_item_t *attachment = nullptr;
    std::uint64_t size = 0;
    int id = -1;
};

class mime_part_writer
{
public:
    // Attachment data stops being read once *stop is set (nullptr: never).
    mime_part_writer(fd_writer &out, const std::atomic<bool> *stop) : m_out(out), m_stop(stop) {}

    // Writes a whole message (a part of kind message, without the headers
    // it has as a part). False when the output or an attachment's data
    // failed; failed_attachment() names the attachment (-1: the output).
    bool write_message(const mime_part &message);
    int failed_attachment() const { return m_failed; }

private:
    bool write(const mime_part &part, bool content_only, bool ensure_newline);
    bool put(std::string_view text);
    bool put_lines(std::string_view text, bool ensure_newline);

    fd_writer &m_out;
    const std::atomic<bool> *m_stop;
    int m_failed = -1;
};

} // namespace korvel::convert
