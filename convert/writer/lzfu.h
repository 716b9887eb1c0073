// Compressed RTF (the LZFu form of PidTagRtfCompressed) and its stored
// uncompressed form.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace korvel::convert {

// RTF text compressed with the LZFu dictionary coder, header included.
std::vector<std::uint8_t> rtf_compress(std::string_view rtf);

// RTF text in the uncompressed ("MELA") form, header included.
std::vector<std::uint8_t> rtf_store_uncompressed(std::string_view rtf);

// Decompresses either form; empty result and false on malformed input.
bool rtf_decompress(const std::vector<std::uint8_t> &data, std::vector<std::uint8_t> &out);

} // namespace korvel::convert
