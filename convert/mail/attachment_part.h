// A MIME part for an attachment's data, in base64, read from libpff in
// pieces while the message is written: a message of any size goes out in
// bounded memory.
//
// It writes its own content: GMime would read the data through a stream,
// encode it through a base64 filter and pass the result through a
// newline filter that finds nothing to change in base64 text; together
// they cost more than the encoding itself. The headers are still GMime's.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <gmime/gmime.h>
#include <libpff.h>

namespace korvel::convert {

// A new part of type/subtype (with a name parameter unless name is empty)
// whose content is the attachment's data (size bytes),
// Content-Transfer-Encoding base64. The attachment item is not owned and must
// outlive the part. Writing fails once *stop is set (a Stop during a big
// attachment). Returns a new reference.
GMimePart *attachment_part_new(const char *type, const char *subtype, const std::string &name,
                               libpff_item_t *attachment, std::uint64_t size,
                               const std::atomic<bool> *stop = nullptr);

// True when writing the part found fewer bytes in libpff than its size.
bool attachment_part_failed(GMimePart *part);

} // namespace korvel::convert
