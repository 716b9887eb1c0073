// The preview-time export of one message's bodies, recipients and
// attachments: what the preview pages read afterwards is left in the message
// value holders; only attachments become files (in the working directory).
//
// Everything here runs on the window thread during a preview, with the
// caller holding the session's mailbox lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <libpff.h>

#include "scan/export_handle.h"
#include "scan/log_handle.h"
#include "scan/names.h"

namespace korvel {

// The MAPI property tags the message export reads (tag_display_name,
// tag_recipient_display_name, tag_recipient_type, tag_attach_filename,
// tag_attach_long_filename, tag_attach_content_id) are in scan/names.h.

// A body whose reported size reaches this is read but not kept.
inline constexpr std::size_t body_size_limit = 65000;

// Bodies larger than this are not even read: keeping them is ruled out by
// body_size_limit anyway, and a damaged size field must not make us allocate
// gigabytes just to find that out.
inline constexpr std::size_t body_read_limit = 16 * 1024 * 1024;

// Attachment data is copied through one block of this size.
inline constexpr std::size_t attachment_chunk_size = 8192;

// The longest file name (in UTF-8 bytes) the file system takes.
inline constexpr std::size_t attachment_name_limit = 255;

// One data attachment file the export wrote in full.
struct written_attachment
{
    // PidTagAttachContentId as stored (UTF-8): the name an HTML body refers
    // to the attachment by ("cid:..."); empty when the attachment has none.
    std::string content_id;
    // The file's full path (UTF-8).
    std::string path;
};

// The message value holders: what the last preview-time export of a message
// left for the preview pages.
struct message_values
{
    // "html", "rtf" or "txt": the kind of the body chosen last; names the
    // body file. Empty until some body was chosen.
    std::u16string body_kind;

    // The body bytes exactly as libpff returned them (or the preview's
    // default). Always holds at least body_size bytes once body_size > 0.
    std::vector<std::uint8_t> body_bytes;

    // The size libpff reported for the kept body; for HTML and plain text it
    // counts the terminating zero that libpff appends.
    std::uint32_t body_size = 0;

    // Display names of the recipients of type 1 (To), joined by ", ".
    std::u16string to_text;

    // Display names of the recipients of type 2 (CC), joined by ", ".
    std::u16string cc_text;

    // Display names of the recipients of type 3 (BCC), joined by ", ".
    std::u16string bcc_text;

    // For every attachment handled: its full target path followed by " ;".
    std::u16string attachment_list;

    // Every data attachment written in full, in the order written; the
    // preview clears it with the attachment list.
    std::vector<written_attachment> written_attachments;

    // Where the exporters put attachment files, below which "Attachments" is
    // the attachment directory (UTF-8, may end in "/"). Empty: the user's
    // temporary directory, as the working directory uses. Tests point it at
    // a scratch directory.
    std::string temporary_directory;
};

// The process-wide message value holders.
message_values &export_message_values();

// Puts every message value holder back to its start-of-run state (the
// temporary directory setting is kept).
void message_values_clear(message_values *values);

// The preview's reset before each re-export: the body becomes one UTF-16
// space (0x20 0x00), recorded with size 3 as the body files expect (the last
// byte is never written). A zero byte is kept after it so that a size-3 read
// never runs past the block.
void message_values_reset_body(message_values *values);

// The temporary directory the exporters pass to the attachments export:
// values->temporary_directory, else temporary_directory(), as UTF-16 without
// a trailing separator. Returns false when there is none or it is not UTF-8.
bool message_values_attachment_parent(const message_values *values, std::u16string *directory);

// Chooses one body (HTML before RTF before plain text), reads it and keeps it
// in the body holders when it is smaller than body_size_limit.
// export_path_length does not count the terminating zero.
// Returns 0 when the handle or the path is missing or when the HTML or the
// RTF loader succeeded, 1 otherwise.
int export_handle_export_message_body(export_handle_t *export_handle, libpff_item_t *item,
                                      const char16_t *export_path, std::size_t export_path_length,
                                      log_handle_t *log_handle, libpff_error_t **error);

// Turns the item's recipient table into the To, CC and BCC texts (cleared
// first). export_path_length does not count the terminating zero.
// Returns 1 on success or when the item has no recipient table, -1 when the
// handle or the item is missing or on a libpff error.
int export_handle_export_recipients(export_handle_t *export_handle, libpff_item_t *item,
                                    const char16_t *export_path, std::size_t export_path_length,
                                    log_handle_t *log_handle, libpff_error_t **error);

// Writes every data attachment of the item into directory_path +
// "/Attachments" and hands item attachments to the folder-load dispatcher.
// directory_path_length does not count the terminating zero; a trailing
// separator is ignored.
// Returns 1 (also when there is no attachment), -1 when a libpff call fails
// or the attachment directory path cannot be built.
int export_handle_export_attachments(export_handle_t *export_handle, libpff_item_t *item,
                                     const char16_t *directory_path,
                                     std::size_t directory_path_length, log_handle_t *log_handle,
                                     libpff_error_t **error);

// Writes one attachment into the attachment directory (never over an
// existing entry) and records its target path in the attachment list.
// attachment_directory_length does not count the terminating zero.
// Returns 1 when the attachment was written, skipped or handed on, -1 on
// failure (a half-written file stays).
int export_handle_export_attachment(export_handle_t *export_handle, libpff_item_t *attachment,
                                    int attachment_index, const char16_t *attachment_directory,
                                    std::size_t attachment_directory_length,
                                    log_handle_t *log_handle, libpff_error_t **error);

// The UTF-8 file name an attachment is written under, before the target-path
// rule cleans it: the long file name, else the short file name, else the
// display name, else "Attachment" and the index. Names that would not make
// an entry of their own (empty, "." or "..") fall back to that last form;
// names over the file-name limit are shortened, keeping a short extension.
std::string attachment_file_name(libpff_item_t *attachment, int attachment_index);

} // namespace korvel
