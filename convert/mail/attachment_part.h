// An attachment's data in base64, read from libpff in pieces while the
// message is written: a message of any size goes out in bounded memory.
//
// Straight from libpff into the output: GMime would read the data through a
// stream, encode it through a base64 filter and pass the result through a
// newline filter that finds nothing to change in base64 text; together they
// cost more than the encoding itself. The encoder is still GMime's.
#pragma once

#include <atomic>
#include <cstdint>

#include <libpff.h>

#include "convert/mail/mime_streams.h"

namespace korvel::convert {

enum class attachment_write
{
    written,
    data_failed,   // fewer bytes in libpff than the attachment's size, or a Stop
    output_failed, // the writer failed
};

// Writes the attachment's data (size bytes) in base64 lines. Gives up once
// *stop is set (a Stop during a big attachment).
attachment_write write_attachment_base64(libpff_item_t *attachment, std::uint64_t size,
                                         const std::atomic<bool> *stop, fd_writer &out);

} // namespace korvel::convert
