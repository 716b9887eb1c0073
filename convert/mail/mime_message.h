// One mailbox message as an RFC 5322 / MIME message, formatted by GMime's
// functions (mime_headers.h) from what libpff reads of it: the original internet headers when the
// item kept them (else headers made from its properties), the bodies (plain and HTML as
// multipart/alternative; an RTF-only body as text, or as the HTML it
// encapsulates), inline images in multipart/related, attachments in base64,
// embedded messages as message/rfc822.
//
// Attachment data is not read while building: each attachment part reads its
// bytes from libpff in pieces while the message is written (attachment_part.h), so a message of
// any size goes out in bounded memory. The libpff attachment items stay open
// until the mime_message is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <libpff.h>

#include "convert/mail/mime_part.h"
#include "convert/mail/mime_streams.h"

namespace korvel::convert {

// Where an item goes in the mail formats, by its message class (any case).
enum class item_family
{
    mail,              // IPM.Note, IPM.Note.*, REPORT.*, IPM.Schedule.Meeting.*
    contact,           // IPM.Contact*
    distribution_list, // IPM.DistList*
    appointment,       // IPM.Appointment*
    task,              // IPM.Task*
    other,             // sticky notes, free/busy data, ...
};
item_family classify_message_class(std::string_view message_class);

// The message class of an item ("" when absent or unreadable).
std::string read_message_class(libpff_item_t *message);

// Initialises GMime for this process (once; safe from any thread).
void mime_initialize();

// The character set name for a Windows code page ("windows-1252" when unknown).
const char *charset_for_code_page(std::uint32_t code_page);

// A file name made safe for the file system: no "/", NUL or control
// characters, not "." or "..", no leading or trailing blanks and dots, at most
// max_bytes bytes of UTF-8 (cut at a character boundary); fallback when
// nothing is left.
std::string safe_file_name(std::string_view name, std::size_t max_bytes, std::string_view fallback);

class mime_message
{
public:
    mime_message();
    ~mime_message();
    mime_message(const mime_message &) = delete;
    mime_message &operator=(const mime_message &) = delete;

    // Builds the message. Attachments whose position in the build order is in
    // left_out are replaced by a short note (used after one failed to read).
    // problems receives one line per part that could not be read. Returns 1,
    // or -1 when nothing usable could be made of the item.
    int build(libpff_item_t *message, std::vector<std::string> &problems,
              const std::set<int> &left_out = {});

    // Writes the message. Returns 1, or -1; after a failure,
    // failed_attachment() names the attachment (build order) whose data could
    // not be read, or -1 when the output itself failed.
    int write(fd_writer &out);
    int failed_attachment() const;

    // About how many bytes the bodies and the attachment data take before
    // encoding, embedded messages included (after build).
    std::uint64_t content_bytes() const { return m_content_bytes; }

    // Attachment data stops being read once *stop is set (before build).
    void set_stop_flag(const std::atomic<bool> *stop) { m_stop = stop; }

    // For an mbox "From " line: the sender's address ("MAILER-DAEMON" when
    // none) and the delivery or submit time (Unix seconds; 0 when none).
    const std::string &envelope_sender() const { return m_envelope_sender; }
    std::int64_t envelope_time() const { return m_envelope_time; }

private:
    struct build_state;
    void build_message(libpff_item_t *message, build_state &state, int depth,
                       std::vector<std::string> &problems, mime_part &out);
    void add_attachments(libpff_item_t *message, build_state &state, int depth,
                         const std::string &html, std::vector<std::string> &problems,
                         std::vector<mime_part> &related, std::vector<mime_part> &attached);
    mime_part embedded_part(libpff_item_t *attachment, int i, build_state &state, int depth,
                            std::vector<std::string> &problems);
    mime_part data_part(libpff_item_t *attachment, int i, std::uint32_t code_page,
                        const std::string &html, build_state &state,
                        std::vector<std::string> &problems, bool &is_inline);
    void release();

    // The message as a part of kind message.
    mime_part m_root;
    // Items that must outlive the write: attachments and embedded messages.
    std::vector<libpff_item_t *> m_items;
    // The attachment whose data failed in the last write (build order), or -1.
    int m_failed = -1;
    std::string m_envelope_sender;
    std::int64_t m_envelope_time = 0;
    std::uint64_t m_content_bytes = 0;
    const std::atomic<bool> *m_stop = nullptr;
};

// Recovers text from an RTF body through the RTF reader (serialised: the
// reader keeps process-wide state, which is reset before and after).
std::string rtf_body_text(std::string_view rtf);

} // namespace korvel::convert
