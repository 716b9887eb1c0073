// The bare libpff loops the benchmarks measure the program against: the same
// property reads as the header extraction, with nothing kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <libpff.h>

#include "scan/pff_values.h"

namespace korvel::bench {

// Reads every message of folder as a listing would; counts them.
inline void bare_list(libpff_item_t *folder, std::size_t &messages)
{
    static const std::uint32_t strings[] = {0x3001, 0x0070, 0x3A44, 0x3A16, 0x3A06, 0x8208,
                                            0x3A11, 0x8101, 0x8700, 0x0037, 0x0C1A, 0x0C1F};
    static const std::uint32_t reads[] = {0x0037, 0x0C1A, 0x0C1F};
    static const std::uint32_t integers[] = {0x0E08, 0x0E07, 0x0017, 0x0026, 0x0036};
    int count = 0;
    libpff_folder_get_number_of_sub_messages(folder, &count, nullptr);
    std::vector<std::uint8_t> buffer;
    for (int i = 0; i < count; ++i) {
        libpff_item_t *message = nullptr;
        if (libpff_folder_get_sub_message(folder, i, &message, nullptr) != 1) {
            break;
        }
        std::uint8_t type = 0;
        libpff_item_get_type(message, &type, nullptr);
        std::size_t largest = 24;
        for (std::uint32_t tag : strings) {
            std::size_t size = 0;
            if (read_utf8_size(message, tag, &size) == 1 && size > largest) {
                largest = size;
            }
        }
        buffer.resize(largest);
        for (std::uint32_t tag : reads) {
            read_utf8(message, tag, buffer.data(), buffer.size());
        }
        std::uint64_t filetime = 0;
        read_filetime(message, 0x0E06, &filetime);
        for (std::uint32_t tag : integers) {
            std::uint32_t value = 0;
            read_int32(message, tag, &value);
        }
        libpff_item_free(&message, nullptr);
        ++messages;
    }
}

} // namespace korvel::bench
