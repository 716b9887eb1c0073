// Contacts as vCard 3.0 (RFC 2426): one libpff contact item becomes one
// BEGIN:VCARD ... END:VCARD text, UTF-8, CRLF line ends, lines folded at 75
// octets (never inside a UTF-8 sequence), with , ; \ and line breaks escaped.
//
// A distribution list (IPM.DistList) becomes a group card in the form the
// common address books read: X-ADDRESSBOOKSERVER-KIND:group with one
// X-ADDRESSBOOKSERVER-MEMBER:mailto:... line per member that carries an
// address (vCard 3.0 has no KIND of its own).
//
// Everything here reads through libpff as the engine does (record set 0,
// named properties by their numeric id through the file's name-to-id map);
// the caller holds the mailbox lock. Results are 1/0/-1 as everywhere in the
// engine; error is filled on -1 only.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <libpff.h>

namespace korvel::convert {

// Message classes, compared without regard to case: IPM.Contact and its
// sub-classes (IPM.Contact.*).
bool is_contact_class(std::string_view message_class);
// IPM.DistList and its sub-classes.
bool is_distribution_list_class(std::string_view message_class);

// One contact or distribution list as a vCard (appended to out; out is left
// as it was on 0 and -1).
// Returns 1 written, 0 when the item is neither a contact nor a distribution
// list (its message class says so), -1 when it could not be read (error says
// why, for the report).
int contact_to_vcard(libpff_item_t *item, std::string &out, std::string &error);

// What folder_write_vcards did.
struct vcard_folder_counts
{
    // Cards written.
    std::size_t written = 0;
    // Items of other kinds, left out.
    std::size_t skipped = 0;
    // One line per item that could not be read: "item N: why".
    std::vector<std::string> unreadable;
};

// Writes the vCards of every contact and distribution list among the
// folder's messages into stream, one item at a time (memory stays bounded
// by the largest card). An unreadable item is counted and the rest written.
// Returns 1 when the folder's messages could be listed and the stream took
// every card, -1 otherwise (error says why; the counts hold what was done).
int folder_write_vcards(libpff_item_t *folder, std::ostream &stream, vcard_folder_counts &counts,
                        std::string &error);

// The vCard text pieces, exposed for the tests and the iCalendar side.

// Escapes \ , and line breaks (CRLF, CR and LF become \n) of a text value,
// and ; too when semicolons is set: a component of a structured value (N,
// ADR, ORG) or an iCalendar text. A plain vCard text keeps its ; as it is:
// escaping it there is allowed but common readers keep the backslash.
std::string vcard_escape(std::string_view text, bool semicolons = false);
// One content line "name:value" (value already escaped) folded at 75
// octets with CRLF + space, ending in CRLF. Never splits a UTF-8 sequence.
std::string fold_content_line(std::string_view line);

} // namespace korvel::convert
