// The header lines of the messages and parts we write, each formatted by
// GMime's own functions (encoded words, folding, parameters, address lists,
// message ids, dates) exactly as GMime writes them from its objects.
//
// GMime's objects are bypassed here: a message made from properties would be
// a tree of some sixty of them (header lists, a header and a change event per
// header, content types with parameter lists, address lists, streams and
// filters), made and destroyed for every message only to be written once;
// making, writing and destroying them took more instructions than all of
// libpff's reading of the message. The formatting stays GMime's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/mail/mime_addresses.h"

namespace korvel::convert {

class header_lines
{
public:
    // An unstructured header (Subject, Date, MIME-Version, ...): encoded
    // words (in charset, else as GMime picks) where needed, folded.
    void add_text(const char *name, const char *value, const char *charset = nullptr);
    // A header of one message id (Message-Id, Content-Id), given without its
    // angle brackets.
    void add_id(const char *name, std::string_view id);
    // In-Reply-To and References: their message ids, folded between them.
    void add_references(const char *name, const char *value);
    // From, Sender, To, Cc, Bcc: the addresses that have a name or an email;
    // nothing when none does.
    void add_addresses(const char *name, const std::vector<address> &addresses);
    // A header whose value is one of a few (MIME-Version, a transfer
    // encoding): formatted once per thread.
    void add_fixed(const char *name, const char *value);
    // Content-Type, with one parameter unless parameter is nullptr.
    void add_content_type(std::string_view type, std::string_view subtype,
                          const char *parameter = nullptr, const char *value = nullptr);
    // Content-Type of a text part: formatted once per thread for each
    // subtype and charset.
    void add_text_type(const char *subtype, const char *charset);
    // Content-Type of a multipart: formatted once per thread for each
    // subtype and length of boundary (a boundary is made of characters that
    // are all formatted alike), the boundary put in its place.
    void add_multipart_type(const char *subtype, const std::string &boundary);
    // Content-Disposition, with a filename parameter unless file_name is empty.
    void add_disposition(const char *disposition, const std::string &file_name);
    // Lines formatted already, each ending with a line end.
    void add_formatted(std::string_view lines) { m_text += lines; }

    // The lines as formatted; written through write_unix_newlines, as GMime
    // writes a header list. Empties the list.
    std::string take();

private:
    std::string m_text;
};

// GMime's line-end conversion for what it writes: a CR before a LF, or at
// the very end, is dropped; with ensure_newline a LF ends non-empty text.
// Empty text gives nothing. put receives the pieces.
template <typename Put>
void write_unix_newlines(std::string_view text, bool ensure_newline, Put put)
{
    if (text.empty()) {
        return;
    }
    std::size_t start = 0;
    for (std::size_t cr = text.find('\r'); cr != std::string_view::npos;
         cr = text.find('\r', cr + 1)) {
        if (cr + 1 == text.size() || text[cr + 1] == '\n') {
            put(text.substr(start, cr - start));
            start = cr + 1;
        }
    }
    put(text.substr(start));
    if (ensure_newline && text.back() != '\n') {
        put(std::string_view("\n"));
    }
}

} // namespace korvel::convert
