#include "format/multi_value.h"

#include "format/layout.h"

namespace korvel::format {

std::vector<std::uint8_t> mv_variable_join(const std::vector<std::vector<std::uint8_t>> &items)
{
    std::vector<std::uint8_t> out;
    append_le<std::uint32_t>(out, static_cast<std::uint32_t>(items.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * items.size());
    for (const auto &item : items) {
        append_le<std::uint32_t>(out, offset);
        offset += static_cast<std::uint32_t>(item.size());
    }
    for (const auto &item : items) {
        out.insert(out.end(), item.begin(), item.end());
    }
    return out;
}

bool parse_multi_value(std::span<const std::uint8_t> bytes,
                       std::vector<std::vector<std::uint8_t>> &values)
{
    values.clear();
    auto u32_at = [&](std::size_t at) { return load_le<std::uint32_t>(bytes.data() + at); };
    if (bytes.size() < 4) {
        return bytes.empty();
    }
    const std::uint32_t count = u32_at(0);
    if (count > (bytes.size() - 4) / 4) {
        return false;
    }
    const std::size_t table_end = 4 + static_cast<std::size_t>(count) * 4;
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::size_t begin = u32_at(4 + index * 4);
        const std::size_t end = index + 1 < count ? u32_at(4 + (index + 1) * 4) : bytes.size();
        if (begin < table_end || begin > end || end > bytes.size()) {
            values.clear();
            return false;
        }
        values.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                            bytes.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return true;
}

} // namespace korvel::format
