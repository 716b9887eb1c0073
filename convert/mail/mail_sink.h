// The sinks for the formats Linux mail programs read (mailbox_sink.h). The
// output directory holds two trees: "Mail", the mail alone, and "Contacts and
// Calendars" beside it (made when there is any), so that a mail client given
// "Mail" as its local folders finds nothing there but mail folders.
//
//  - mbox: "Mail" laid out as a mail client's local folders: one mbox file
//    per folder, named after it, its sub-folders in "<name>.sbd/"; messages
//    separated by "From " lines, body lines quoted the mboxrd way.
//  - EML: a directory per folder (sub-folders inside it), one "<subject>.eml"
//    per message, created exclusively (never over an existing file).
//
// Search folders are left out, and so are folders outside "Top of Personal
// Folders" (the store's system folders) that have no mail in or below them;
// every folder of the user's own is made, empty or not.
//
// Mail items (item_family::mail) become MIME messages (mime_message.h);
// contacts and distribution lists go to one "<name>.vcf" (vCard 3.0) and
// appointments and tasks to one "<name>.ics" (one VCALENDAR) in "Contacts and
// Calendars", in directories named as the folders above them are, made on
// the first such item; associated items and the other kinds are left out
// (0). Names are the folders' original names made safe for the file system
// and unique among their siblings.
//
// A message written without one of its parts (an attachment whose data could
// not be read is replaced by a note) still answers 1; take_problems() then
// names what was lost, for the report.
#pragma once

#include <memory>

#include "convert/save/mailbox_sink.h"

namespace korvel::convert {

std::unique_ptr<mailbox_sink> make_mbox_sink();
std::unique_ptr<mailbox_sink> make_eml_sink();

} // namespace korvel::convert
