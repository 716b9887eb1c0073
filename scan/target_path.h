// Target paths and the date text form: the small text rules that the folder
// walk, the header extraction and the attachment export share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <libpff.h>

#include "scan/export_handle.h"
#include "scan/log_handle.h"

namespace korvel {

// The path separator wherever the engine joins path texts.
inline constexpr char16_t path_separator = u'/';

// Replaces every control character (1 to 31) and each of the characters
// ! " $ % & ' * + / : ; < > ? @ \ ` ~ of name[0, size) by "_".
// Returns 1, or -1 when the handle or the name is missing or the size exceeds
// 0x7FFFFFFF.
int export_handle_sanitize_filename(export_handle_t *export_handle, char16_t *name,
                                    std::size_t name_size, libpff_error_t **error);

// Makes parent + separator + sanitised name. parent_size counts the
// terminating zero in the walk (the separator takes the zero's place); the
// new size counts the new path's terminating zero. *target_path must be
// nullptr on entry; the caller owns the result (delete[]).
// Returns 1, or -1 on a missing argument, a negative name size, a name that is
// not valid UTF-8, or short memory (out path nullptr, out size 0).
int export_handle_create_target_path(export_handle_t *export_handle, const char16_t *parent_path,
                                     std::size_t parent_path_size, const std::uint8_t *utf8_name,
                                     std::ptrdiff_t utf8_name_size, char16_t **target_path,
                                     std::size_t *target_path_size, libpff_error_t **error);

// Creates the directory (it may exist already) and logs the line.
// Returns 1, or -1 when the handle or the path is missing.
int export_handle_make_directory(export_handle_t *export_handle, const char16_t *directory_name,
                                 log_handle_t *log_handle, libpff_error_t **error);

// The date text of a FILETIME: "Mar 07, 2011 14:05:09", UTC as stored; after
// the year 9999 "(0xhhhhhhhh 0xllllllll)". buffer must hold 24 bytes; the text
// is zero-terminated.
void filetime_to_date_text(std::uint64_t filetime, char buffer[24]);

// The same as a wide string.
std::u16string filetime_date_text(std::uint64_t filetime);

} // namespace korvel
