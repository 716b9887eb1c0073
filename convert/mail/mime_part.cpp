#include "convert/mail/mime_part.h"

#include "convert/mail/attachment_part.h"
#include "convert/mail/mime_headers.h"

namespace korvel::convert {

bool mime_part_writer::put(std::string_view text)
{
    return m_out.write(text.data(), text.size());
}

bool mime_part_writer::put_lines(std::string_view text, bool ensure_newline)
{
    bool ok = true;
    write_unix_newlines(text, ensure_newline,
                        [&](std::string_view piece) { ok = ok && put(piece); });
    return ok;
}

bool mime_part_writer::write_message(const mime_part &message)
{
    return write(message, true, false);
}

// As GMime writes a part: its headers (unless content_only) and a blank
// line, then its content; the body of a message ends with a line end.
bool mime_part_writer::write(const mime_part &part, bool content_only, bool ensure_newline)
{
    if (!content_only && (!put_lines(part.headers, false) || !put("\n"))) {
        return false;
    }
    switch (part.what) {
    case mime_part::kind::text:
        return put_lines(part.content, ensure_newline);
    case mime_part::kind::multipart:
        for (const mime_part &child : part.children) {
            if (!put("--") || !put(part.boundary) || !put("\n") || !write(child, false, false) ||
                !put("\n")) {
                return false;
            }
        }
        return put("--") && put(part.boundary) && put("--\n");
    case mime_part::kind::attachment:
        switch (write_attachment_base64(part.attachment, part.size, m_stop, m_out)) {
        case attachment_write::written:
            return true;
        case attachment_write::data_failed:
            m_failed = part.id;
            return false;
        case attachment_write::output_failed:
            return false;
        }
        return false;
    case mime_part::kind::message:
        return put_lines(part.content, false) && put("\n") &&
               (part.children.empty() ||
                write(part.children.front(), true, part.body_ends_line));
    }
    return false;
}

} // namespace korvel::convert
