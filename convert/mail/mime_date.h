// The one Date header each message we write carries. Stored transport headers
// may hold two Date lines, or one line with two dates in it; a mail client
// then shows no date at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <gmime/gmime.h>

namespace korvel::convert {

// True when text is one RFC 5322 date-time, its obsolete forms included
// (two-digit years, zone names, comments such as "(PDT)"), and nothing else.
bool is_rfc5322_date(std::string_view text);

// Leaves exactly one Date header in message: the first one it holds when that
// is an RFC 5322 date-time, else one made from made_from (Unix seconds; none:
// the message keeps no Date). Every other Date line is kept, in order, as an
// X-Original-Date line.
void settle_date_header(GMimeMessage *message, std::optional<std::int64_t> made_from);

} // namespace korvel::convert
