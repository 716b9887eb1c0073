// Days since 1970-01-01 and civil dates (proleptic Gregorian), both ways, for
// any 64-bit day count a stored FILETIME can give: std::chrono's year stops
// at 32767.
#pragma once

#include <cstdint>

namespace korvel {

struct civil_date
{
    std::int64_t year = 1970;
    unsigned month = 1; // 1..12
    unsigned day = 1;   // 1..31
};

constexpr civil_date civil_from_days(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned mp = (5 * day_of_year + 2) / 153;
    civil_date out;
    out.day = day_of_year - (153 * mp + 2) / 5 + 1;
    out.month = mp < 10 ? mp + 3 : mp - 9;
    out.year = static_cast<std::int64_t>(year_of_era) + era * 400 + (out.month <= 2 ? 1 : 0);
    return out;
}

constexpr std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(civil_from_days(-134774).year == 1601);

} // namespace korvel
