// The sink that writes a new Unicode PST file with our writer: every item
// whole (all properties as stored, recipients, attachments streamed, embedded
// messages), named properties re-mapped by name, 8-bit text made Unicode.
#pragma once

#include <cstdint>
#include <memory>

#include "convert/save/mailbox_sink.h"

namespace korvel::convert {

std::unique_ptr<mailbox_sink> make_pst_sink();

// Properties the PST sink does not copy because the writer computes them for
// the new file (counts, row ids) or because they point into the source file
// (object values). The save's tests compare everything else.
bool pst_sink_skips_folder_property(std::uint16_t id, std::uint16_t type);
bool pst_sink_skips_message_property(std::uint16_t id, std::uint16_t type);
bool pst_sink_skips_attachment_property(std::uint16_t id, std::uint16_t type);

} // namespace korvel::convert
