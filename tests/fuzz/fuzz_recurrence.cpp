// libFuzzer target for the binary values the contact and calendar
// conversions read themselves: the recurrence pattern (as an appointment's
// and as a task's), the time zone, variable-size multi-values and one-off
// entry ids. Traps on a result no input can justify.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "convert/pim/pim_values.h"
#include "convert/pim/recurrence.h"

namespace {

void check_pattern(std::span<const std::uint8_t> bytes, bool appointment)
{
    korvel::convert::recurrence_pattern pattern;
    std::string error;
    const int result = korvel::convert::parse_recurrence(bytes, appointment, pattern, error);
    if (result != 1) {
        if (result != -1 || error.empty()) {
            __builtin_trap();
        }
        return;
    }
    // Nothing listed that the bytes do not hold.
    const std::size_t listed = (pattern.deleted_dates.size() + pattern.modified_dates.size()) * 4 +
                               pattern.exceptions.size() * 14;
    if (listed > bytes.size()) {
        __builtin_trap();
    }
    for (bool date_only : {false, true}) {
        std::string rrule;
        const int made = korvel::convert::recurrence_rrule(pattern, 60, date_only, rrule, error);
        if ((made == 1 && rrule.rfind("FREQ=", 0) != 0) || (made != 1 && !rrule.empty())) {
            __builtin_trap();
        }
    }
    if (korvel::convert::recurrence_deleted_only(pattern).size() > pattern.deleted_dates.size()) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    check_pattern(bytes, true);
    check_pattern(bytes, false);

    korvel::convert::time_zone_rule zone;
    std::string error;
    if (korvel::convert::parse_time_zone_struct(bytes, zone, error) == 1) {
        for (int year : {1601, 2026, 9999}) {
            for (const auto &change : {zone.standard, zone.daylight}) {
                const int day = korvel::convert::zone_change_day(year, change);
                if (day < 1 || day > 31) {
                    __builtin_trap();
                }
            }
        }
    }

    std::vector<std::vector<std::uint8_t>> values;
    if (korvel::convert::parse_multi_value(bytes, values)) {
        std::size_t total = 0;
        for (const auto &value : values) {
            total += value.size();
        }
        if (total > size) {
            __builtin_trap();
        }
    }
    // A Windows-1252 byte becomes at most three UTF-8 bytes.
    korvel::convert::one_off_entry entry;
    const std::vector<std::uint8_t> copy(data, data + size);
    if (korvel::convert::parse_one_off_entry_id(copy, entry) &&
        entry.name.size() + entry.address.size() + entry.address_type.size() > size * 3) {
        __builtin_trap();
    }
    return 0;
}
