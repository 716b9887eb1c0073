// The "permute" block encoding: a fixed byte substitution applied to external
// data blocks when the header's crypt method is 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvel::format {

// Encodes size bytes in place (what a writer does before the block goes out).
void permute_encode(std::uint8_t *data, std::size_t size);

// Encodes size bytes of in into out (in == out allowed, no other overlap):
// the copy and the encoding in one pass.
void permute_encode(const std::uint8_t *in, std::uint8_t *out, std::size_t size);

// Decodes size bytes in place (what a reader does to a block it found).
void permute_decode(std::uint8_t *data, std::size_t size);

} // namespace korvel::format
