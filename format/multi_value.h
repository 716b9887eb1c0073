// The stored form of a variable-size multi-valued property (PT_MV_STRING8,
// PT_MV_UNICODE, PT_MV_BINARY): a count, one offset per value from the start,
// then the values. The writer makes it and the readers of damaged items split
// it, so both sides agree on one layout.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korvel::format {

std::vector<std::uint8_t> mv_variable_join(const std::vector<std::vector<std::uint8_t>> &items);

// Splits bytes with every offset checked. Returns false (and no values) when
// the bytes are not one; no bytes at all are an empty list.
bool parse_multi_value(std::span<const std::uint8_t> bytes,
                       std::vector<std::vector<std::uint8_t>> &values);

} // namespace korvel::format
