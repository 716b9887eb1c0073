#include "scan/target_path.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>

#include "scan/civil_days.h"
#include "scan/text.h"

namespace korvel {

namespace {

constexpr std::size_t maximum_size = 0x7FFFFFFF;

bool is_replaced_in_filename(char16_t c)
{
    if (c >= 1 && c <= 31) {
        return true;
    }
    switch (c) {
    case u'!':
    case u'"':
    case u'$':
    case u'%':
    case u'&':
    case u'\'':
    case u'*':
    case u'+':
    case u'/':
    case u':':
    case u';':
    case u'<':
    case u'>':
    case u'?':
    case u'@':
    case u'\\':
    case u'`':
    case u'~':
        return true;
    default:
        return false;
    }
}


} // namespace

int export_handle_sanitize_filename(export_handle_t *export_handle, char16_t *name,
                                    std::size_t name_size, libpff_error_t **error)
{
    (void)error;
    if (export_handle == nullptr || name == nullptr || name_size > maximum_size) {
        return -1;
    }
    for (std::size_t i = 0; i < name_size; ++i) {
        if (is_replaced_in_filename(name[i])) {
            name[i] = u'_';
        }
    }
    return 1;
}

int export_handle_create_target_path(export_handle_t *export_handle, const char16_t *parent_path,
                                     std::size_t parent_path_size, const std::uint8_t *utf8_name,
                                     std::ptrdiff_t utf8_name_size, char16_t **target_path,
                                     std::size_t *target_path_size, libpff_error_t **error)
{
    if (export_handle == nullptr || parent_path == nullptr || parent_path_size == 0 ||
        parent_path_size > maximum_size || utf8_name == nullptr || utf8_name_size < 0 ||
        target_path == nullptr || target_path_size == nullptr) {
        return -1;
    }
    if (*target_path != nullptr) {
        *target_path_size = 0;
        return -1;
    }
    *target_path_size = 0;

    // The name's own terminating zero ends it; the size given is an upper bound
    // (a damaged size must not make us read past the buffer).
    std::size_t name_length = 0;
    while (name_length < static_cast<std::size_t>(utf8_name_size) && utf8_name[name_length] != 0) {
        ++name_length;
    }
    std::u16string name;
    if (!utf8_to_utf16(std::string_view(reinterpret_cast<const char *>(utf8_name), name_length),
                       name)) {
        return -1;
    }
    const std::size_t name_size = name.size() + 1;
    if (name_size > maximum_size - parent_path_size) {
        return -1;
    }
    const std::size_t size = parent_path_size + name_size;
    auto *path = new (std::nothrow) char16_t[size];
    if (path == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i + 1 < parent_path_size; ++i) {
        path[i] = parent_path[i];
    }
    path[parent_path_size - 1] = path_separator;
    for (std::size_t i = 0; i < name.size(); ++i) {
        path[parent_path_size + i] = name[i];
    }
    path[size - 1] = 0;
    if (export_handle_sanitize_filename(export_handle, path + parent_path_size, name.size(),
                                        error) != 1) {
        delete[] path;
        return -1;
    }
    *target_path = path;
    *target_path_size = size;
    return 1;
}

int export_handle_make_directory(export_handle_t *export_handle, const char16_t *directory_name,
                                 log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    if (export_handle == nullptr || directory_name == nullptr) {
        return -1;
    }
    const std::string path = utf16_to_utf8(directory_name);
    // It may exist already; a later file creation in it fails on its own.
    (void)::mkdir(path.c_str(), 0700);
    log_handle_printf(log_handle, "Created directory: %s.\n", path.c_str());
    return 1;
}

void filetime_to_date_text(std::uint64_t filetime, char buffer[24])
{
    static const char *const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    constexpr std::int64_t seconds_1601_to_1970 = 11644473600;
    const auto seconds = static_cast<std::int64_t>(filetime / 10000000u);
    const std::int64_t unix_seconds = seconds - seconds_1601_to_1970;
    std::int64_t days = unix_seconds / 86400;
    std::int64_t rest = unix_seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const civil_date date = civil_from_days(days);
    const std::int64_t year = date.year;
    const unsigned month = date.month;
    const unsigned day = date.day;
    if (year > 9999) {
        std::snprintf(buffer, 24, "(0x%08x 0x%08x)", static_cast<unsigned>(filetime >> 32),
                      static_cast<unsigned>(filetime & 0xFFFFFFFFu));
        return;
    }
    // "Mmm dd, yyyy hh:mm:ss", written by hand: every listed row has one, and
    // the formatted print was a twentieth of a big folder's listing.
    auto put = [&buffer](std::size_t at, unsigned value, std::size_t digits) {
        for (std::size_t i = digits; i > 0; --i) {
            buffer[at + i - 1] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
    };
    std::memcpy(buffer, months[month - 1], 3);
    std::memcpy(buffer + 3, " 00, 0000 00:00:00", 19);
    put(4, day, 2);
    put(8, static_cast<unsigned>(year), 4);
    put(13, static_cast<unsigned>(rest / 3600), 2);
    put(16, static_cast<unsigned>((rest / 60) % 60), 2);
    put(19, static_cast<unsigned>(rest % 60), 2);
}

std::u16string filetime_date_text(std::uint64_t filetime)
{
    char buffer[24];
    filetime_to_date_text(filetime, buffer);
    std::u16string out(std::strlen(buffer), u' ');
    std::transform(buffer, buffer + out.size(), out.begin(),
                   [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); });
    return out;
}

} // namespace korvel
