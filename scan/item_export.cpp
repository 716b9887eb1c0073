#include "scan/item_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "scan/code_page.h"
#include "scan/files.h"
#include "scan/list_item.h"
#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/target_path.h"
#include "scan/text.h"

namespace korvel {
namespace {

// Sizes libpff reports that we are willing to allocate for one string.
constexpr std::size_t string_size_limit = 0x7FFFFFFF;

// The export format the scan walks in, handed on with embedded items.
constexpr std::uint8_t embedded_export_format = 'a';

// A string entry of either string type in record set set_index. Returns 1,
// 0 absent (or a value of another type, a date say) or -1.
int find_string(record_entry_lookup &lookup, libpff_item_t *item, int set_index,
                std::uint32_t entry_type, libpff_error_t **error)
{
    const int result = lookup.find(item, set_index, entry_type, 0,
                                   LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE, error);
    if (result != 1) {
        return result;
    }
    std::uint32_t value_type = 0;
    if (libpff_record_entry_get_value_type(lookup.entry(), &value_type, error) != 1) {
        return -1;
    }
    if (value_type != value_type_string8 && value_type != value_type_unicode) {
        return 0;
    }
    return 1;
}

int read_32bit_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                      std::uint32_t *value, libpff_error_t **error)
{
    record_entry_lookup reader;
    int result = reader.find(item, set_index, entry_type, value_type_int32, 0, error);
    if (result != 1) {
        return result;
    }
    return libpff_record_entry_get_data_as_32bit_integer(reader.entry(), value, error) == 1 ? 1
                                                                                            : -1;
}

// The UTF-16 size (counting the terminating zero) of a string in set
// set_index. Returns 1, 0 absent, -1 error.
int read_utf16_size_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                           std::size_t *size, libpff_error_t **error)
{
    record_entry_lookup reader;
    int result = find_string(reader, item, set_index, entry_type, error);
    if (result != 1) {
        return result;
    }
    return libpff_record_entry_get_data_as_utf16_string_size(reader.entry(), size, error) == 1 ? 1
                                                                                               : -1;
}

// Reads a string of set set_index into buffer (buffer_size code units).
// code_page: the code page of 8-bit text (a recipient row's is its
// message's; libpff would decode it in the file's). Returns 1, 0 absent,
// -1 error.
int read_utf16_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                      std::uint16_t *buffer, std::size_t buffer_size, std::u16string *value,
                      std::uint32_t code_page, libpff_error_t **error)
{
    record_entry_lookup reader;
    int result = find_string(reader, item, set_index, entry_type, error);
    if (result != 1) {
        return result;
    }
    std::uint32_t value_type = 0;
    if (libpff_record_entry_get_value_type(reader.entry(), &value_type, error) == 1 &&
        value_type == value_type_string8) {
        std::size_t size = 0;
        if (libpff_record_entry_get_data_size(reader.entry(), &size, error) != 1 ||
            size > string_size_limit) {
            return -1;
        }
        std::vector<std::uint8_t> bytes(size);
        if (size != 0 &&
            libpff_record_entry_get_data(reader.entry(), bytes.data(), size, error) != 1) {
            return -1;
        }
        std::size_t length = 0;
        while (length < bytes.size() && bytes[length] != 0) {
            ++length;
        }
        code_page_decoder decoder;
        *value = decoder.decode(std::span<const std::uint8_t>(bytes.data(), length), code_page);
        return 1;
    }
    if (libpff_record_entry_get_data_as_utf16_string(reader.entry(), buffer, buffer_size, error) !=
        1) {
        return -1;
    }
    std::size_t length = 0;
    while (length < buffer_size && buffer[length] != 0) {
        ++length;
    }
    value->assign(buffer, buffer + length);
    return 1;
}

// Which body a loader reads.
enum class body_kind
{
    html,
    rtf,
    plain_text
};

int read_body(libpff_item_t *item, body_kind kind, std::uint8_t *buffer, std::size_t size,
              libpff_error_t **error)
{
    switch (kind) {
    case body_kind::html:
        return libpff_message_get_html_body(item, buffer, size, error);
    case body_kind::rtf:
        return libpff_message_get_rtf_body(item, buffer, size, error);
    case body_kind::plain_text:
        return libpff_message_get_plain_text_body(item, buffer, size, error);
    }
    return -1;
}

// One body loader. Returns true on success (also when the body was too
// large to keep), false when it could not be read.
bool load_body(libpff_item_t *item, body_kind kind, std::size_t size, message_values *values)
{
    if (kind == body_kind::html) {
        values->body_kind = u"html";
    } else if (kind == body_kind::rtf) {
        values->body_kind = u"rtf";
    }
    if (size == 0 || size > body_read_limit) {
        return true;
    }
    std::vector<std::uint8_t> block;
    try {
        block.resize(size);
    } catch (const std::bad_alloc &) {
        return false;
    }
    libpff_error_t *error = nullptr;
    int result = read_body(item, kind, block.data(), size, &error);
    export_handle_clear_error(&error);
    if (result != 1) {
        return false;
    }
    if (size >= body_size_limit) {
        return true;
    }
    values->body_bytes = std::move(block);
    values->body_size = static_cast<std::uint32_t>(size);
    return true;
}

// The reported size of one body; false when it is not present.
bool body_size(libpff_item_t *item, body_kind kind, std::size_t *size)
{
    libpff_error_t *error = nullptr;
    int result = -1;
    switch (kind) {
    case body_kind::html:
        result = libpff_message_get_html_body_size(item, size, &error);
        break;
    case body_kind::rtf:
        result = libpff_message_get_rtf_body_size(item, size, &error);
        break;
    case body_kind::plain_text:
        result = libpff_message_get_plain_text_body_size(item, size, &error);
        break;
    }
    export_handle_clear_error(&error);
    return result == 1;
}

// Turns text that should be UTF-8 into UTF-8: a string that is not decodes
// as the 8-bit code page, so a name never fails the target-path rule.
std::string as_utf8(std::string_view text)
{
    std::u16string wide;
    if (utf8_to_utf16(text, wide)) {
        return std::string(text);
    }
    return utf16_to_utf8(decode_8bit(text));
}

// A name that makes no entry of its own in a directory.
bool is_unusable_name(std::string_view name)
{
    return name.find_first_not_of('.') == std::string_view::npos;
}

// Cuts name to attachment_name_limit bytes at a character boundary, keeping
// a short extension.
std::string shorten_name(const std::string &name)
{
    if (name.size() <= attachment_name_limit) {
        return name;
    }
    std::string extension;
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 32) {
        extension = name.substr(dot);
    }
    std::size_t keep = attachment_name_limit - extension.size();
    // Never cut inside a UTF-8 sequence: back off over continuation bytes.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return name.substr(0, keep) + extension;
}

// Copies the data of a data attachment into a new file at path (which must
// not exist: nothing is ever overwritten, and a link planted there is not
// followed). Returns 1, or -1 on failure (a half-written file stays).
int write_attachment_data(libpff_item_t *attachment, const std::string &path,
                          libpff_error_t **error)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    int result = 1;
    size64_t data_size = 0;
    if (libpff_attachment_get_data_size(attachment, &data_size, error) != 1) {
        result = -1;
    } else if (data_size > 0) {
        if (libpff_attachment_data_seek_offset(attachment, 0, SEEK_SET, error) != 0) {
            result = -1;
        } else {
            std::unique_ptr<std::uint8_t[]> block(new (std::nothrow)
                                                      std::uint8_t[attachment_chunk_size]);
            if (block == nullptr) {
                result = -1;
            }
            std::uint64_t remaining = data_size;
            while (result == 1 && remaining > 0) {
                std::size_t chunk = remaining < attachment_chunk_size
                                        ? static_cast<std::size_t>(remaining)
                                        : attachment_chunk_size;
                ssize_t read =
                    libpff_attachment_data_read_buffer(attachment, block.get(), chunk, error);
                if (read < 0 || static_cast<std::size_t>(read) != chunk ||
                    !write_all(fd, block.get(), chunk)) {
                    result = -1;
                    break;
                }
                remaining -= chunk;
            }
        }
    }
    if (::close(fd) != 0) {
        result = -1;
    }
    return result;
}

} // namespace

message_values &export_message_values()
{
    static message_values values;
    return values;
}

void message_values_clear(message_values *values)
{
    if (values == nullptr) {
        return;
    }
    std::string directory = std::move(values->temporary_directory);
    *values = message_values{};
    values->temporary_directory = std::move(directory);
}

void message_values_reset_body(message_values *values)
{
    if (values == nullptr) {
        return;
    }
    values->body_bytes = {0x20, 0x00, 0x00};
    values->body_size = 3;
}

bool message_values_attachment_parent(const message_values *values, std::u16string *directory)
{
    if (values == nullptr || directory == nullptr) {
        return false;
    }
    std::string utf8 =
        values->temporary_directory.empty() ? temporary_directory() : values->temporary_directory;
    while (utf8.size() > 1 && utf8.back() == '/') {
        utf8.pop_back();
    }
    if (utf8.empty()) {
        return false;
    }
    return utf8_to_utf16(utf8, *directory);
}

int export_handle_export_message_body(export_handle_t *export_handle, libpff_item_t *item,
                                      const char16_t *export_path, std::size_t export_path_length,
                                      log_handle_t *log_handle, libpff_error_t **error)
{
    (void)export_path_length;
    (void)log_handle;
    (void)error;
    if (export_handle == nullptr || export_path == nullptr || item == nullptr) {
        return 0;
    }
    message_values &values = export_message_values();

    std::size_t html_size = 0;
    std::size_t rtf_size = 0;
    std::size_t plain_text_size = 0;
    bool has_html = body_size(item, body_kind::html, &html_size);
    bool has_rtf = body_size(item, body_kind::rtf, &rtf_size);
    bool has_plain_text = body_size(item, body_kind::plain_text, &plain_text_size);

    // The last body kind that applies stands until a loader changes it.
    if (has_plain_text) {
        values.body_kind = u"txt";
    }
    if (has_html) {
        values.body_kind = u"html";
    }
    if (has_rtf) {
        values.body_kind = u"rtf";
    }
    if (has_html && load_body(item, body_kind::html, html_size, &values)) {
        return 0;
    }
    if (has_rtf && load_body(item, body_kind::rtf, rtf_size, &values)) {
        return 0;
    }
    if (has_plain_text) {
        load_body(item, body_kind::plain_text, plain_text_size, &values);
    }
    return 1;
}

namespace {

// The display name of recipient index (its recipient display name when that
// cannot be read; empty when neither can), read through buffer, which grows
// to *largest, the largest name seen. Returns 1, or -1 when a name is over
// the size limit or the buffer cannot grow.
int read_recipient_name(libpff_item_t *recipients, int index, std::uint32_t code_page,
                        std::size_t *largest, std::vector<std::uint16_t> *buffer,
                        std::u16string *name)
{
    libpff_error_t *local_error = nullptr;
    std::size_t display_size = 0;
    std::size_t recipient_size = 0;
    bool has_display = read_utf16_size_in_set(recipients, index, tag_display_name, &display_size,
                                              &local_error) == 1;
    export_handle_clear_error(&local_error);
    bool has_recipient = read_utf16_size_in_set(recipients, index, tag_recipient_display_name,
                                                &recipient_size, &local_error) == 1;
    export_handle_clear_error(&local_error);
    if (has_display && display_size > *largest) {
        *largest = display_size;
    }
    if (has_recipient && recipient_size > *largest) {
        *largest = recipient_size;
    }
    if (*largest > string_size_limit) {
        return -1;
    }
    try {
        if (buffer->size() < *largest) {
            buffer->resize(*largest);
        }
    } catch (const std::bad_alloc &) {
        return -1;
    }
    if (!has_display || read_utf16_in_set(recipients, index, tag_display_name, buffer->data(),
                                          buffer->size(), name, code_page, &local_error) != 1) {
        export_handle_clear_error(&local_error);
        name->clear();
        if (!has_recipient ||
            read_utf16_in_set(recipients, index, tag_recipient_display_name, buffer->data(),
                              buffer->size(), name, code_page, &local_error) != 1) {
            name->clear();
        }
    }
    export_handle_clear_error(&local_error);
    return 1;
}

// Adds name to the To, CC or BCC text as its recipient type says; the
// separator follows every recipient but the table's last.
void add_recipient(message_values &values, std::uint32_t type, const std::u16string &name,
                   bool last)
{
    std::u16string *text = nullptr;
    if (type == 1) {
        text = &values.to_text;
    } else if (type == 2) {
        text = &values.cc_text;
    } else if (type == 3) {
        text = &values.bcc_text;
    } else if (type != 0) {
        values.to_text = u"Unknown";
    }
    if (text != nullptr) {
        text->append(name);
        if (!last) {
            text->append(u", ");
        }
    }
}

} // namespace

int export_handle_export_recipients(export_handle_t *export_handle, libpff_item_t *item,
                                    const char16_t *export_path, std::size_t export_path_length,
                                    log_handle_t *log_handle, libpff_error_t **error)
{
    (void)export_path;
    (void)export_path_length;
    (void)log_handle;
    if (export_handle == nullptr || item == nullptr) {
        return -1;
    }
    message_values &values = export_message_values();
    values.to_text.clear();
    values.cc_text.clear();
    values.bcc_text.clear();

    item_holder recipients;
    int result = libpff_message_get_recipients(item, recipients.out(), error);
    if (result == 0) {
        return 1;
    }
    if (result != 1 || recipients.get() == nullptr) {
        return -1;
    }
    int count = 0;
    if (libpff_item_get_number_of_record_sets(recipients.get(), &count, error) != 1) {
        recipients.release();
        return -1;
    }
    result = 1;
    const std::uint32_t code_page = read_code_page(item);
    // One name buffer for the whole walk, grown to the largest name seen.
    std::size_t largest = 1;
    std::vector<std::uint16_t> buffer;
    for (int index = 0; index < count; ++index) {
        std::u16string name;
        if (read_recipient_name(recipients.get(), index, code_page, &largest, &buffer, &name) !=
            1) {
            result = -1;
            break;
        }
        libpff_error_t *local_error = nullptr;
        std::uint32_t type = 0;
        int type_result =
            read_32bit_in_set(recipients.get(), index, tag_recipient_type, &type, &local_error);
        export_handle_clear_error(&local_error);
        if (type_result != 1) {
            continue;
        }
        add_recipient(values, type, name, index == count - 1);
    }
    if (recipients.release() != 1) {
        result = -1;
    }
    return result;
}

std::string attachment_file_name(libpff_item_t *attachment, int attachment_index)
{
    static constexpr std::uint32_t name_tags[] = {tag_attach_long_filename, tag_attach_filename,
                                                  tag_display_name};
    for (std::uint32_t tag : name_tags) {
        std::string name;
        if (read_utf8_string(attachment, tag, &name) != 1) {
            continue;
        }
        name = as_utf8(name);
        if (!is_unusable_name(name)) {
            return shorten_name(name);
        }
    }
    return "Attachment" + std::to_string(attachment_index);
}

int export_handle_export_attachments(export_handle_t *export_handle, libpff_item_t *item,
                                     const char16_t *directory_path,
                                     std::size_t directory_path_length, log_handle_t *log_handle,
                                     libpff_error_t **error)
{
    if (export_handle == nullptr || item == nullptr || directory_path == nullptr) {
        return -1;
    }
    int count = 0;
    if (libpff_message_get_number_of_attachments(item, &count, error) != 1) {
        return -1;
    }
    if (count <= 0) {
        return 1;
    }
    // The directory may end in a separator; the target-path rule adds one.
    std::size_t length = directory_path_length;
    while (length > 1 && directory_path[length - 1] == path_separator) {
        --length;
    }
    std::u16string parent(directory_path, length);
    static constexpr std::uint8_t directory_name[] = "Attachments";
    char16_t *attachment_directory = nullptr;
    std::size_t attachment_directory_size = 0;
    if (export_handle_create_target_path(export_handle, parent.c_str(), parent.size() + 1,
                                         directory_name, sizeof(directory_name),
                                         &attachment_directory, &attachment_directory_size,
                                         error) != 1 ||
        attachment_directory == nullptr || attachment_directory_size == 0) {
        delete[] attachment_directory;
        return -1;
    }
    std::unique_ptr<char16_t[]> directory_owner(attachment_directory);

    int result = 1;
    for (int index = 0; index < count; ++index) {
        item_holder attachment;
        if (libpff_message_get_attachment(item, index, attachment.out(), error) != 1 ||
            attachment.get() == nullptr) {
            // One unreadable attachment of a damaged message must not hide
            // the others.
            export_handle_clear_error(error);
            result = -1;
            continue;
        }
        libpff_error_t *attachment_error = nullptr;
        export_handle_export_attachment(export_handle, attachment.get(), index,
                                        attachment_directory, attachment_directory_size - 1,
                                        log_handle, &attachment_error);
        export_handle_clear_error(&attachment_error);
        if (attachment.release() != 1) {
            return -1;
        }
    }
    return result;
}

int export_handle_export_attachment(export_handle_t *export_handle, libpff_item_t *attachment,
                                    int attachment_index, const char16_t *attachment_directory,
                                    std::size_t attachment_directory_length,
                                    log_handle_t *log_handle, libpff_error_t **error)
{
    if (export_handle == nullptr || attachment == nullptr || attachment_directory == nullptr) {
        return -1;
    }
    int type = 0;
    if (libpff_attachment_get_type(attachment, &type, error) != 1) {
        return -1;
    }
    if (type != LIBPFF_ATTACHMENT_TYPE_DATA && type != LIBPFF_ATTACHMENT_TYPE_ITEM) {
        return 1;
    }
    std::string name = attachment_file_name(attachment, attachment_index);

    char16_t *target_path = nullptr;
    std::size_t target_path_size = 0;
    if (export_handle_create_target_path(export_handle, attachment_directory,
                                         attachment_directory_length + 1,
                                         reinterpret_cast<const std::uint8_t *>(name.c_str()),
                                         static_cast<std::ptrdiff_t>(name.size() + 1), &target_path,
                                         &target_path_size, error) != 1 ||
        target_path == nullptr || target_path_size == 0) {
        delete[] target_path;
        return -1;
    }
    std::unique_ptr<char16_t[]> target_owner(target_path);
    std::u16string_view target(target_path, target_path_size - 1);

    message_values &values = export_message_values();
    values.attachment_list.append(target);
    values.attachment_list.append(u" ;");

    std::string target_utf8 = utf16_to_utf8(target);
    // Something there already (the second of two same-named attachments):
    // it is kept as it is.
    if (path_exists(target_utf8) != 0) {
        return -1;
    }
    if (type == LIBPFF_ATTACHMENT_TYPE_DATA) {
        const int result = write_attachment_data(attachment, target_utf8, error);
        if (result == 1) {
            // Kept so that an HTML body's inline images find their files.
            written_attachment written;
            if (read_utf8_string(attachment, tag_attach_content_id, &written.content_id) != 1) {
                written.content_id.clear();
            }
            written.path = std::move(target_utf8);
            try {
                values.written_attachments.push_back(std::move(written));
            } catch (const std::bad_alloc &) {
                // The file stays; only its inline use is lost.
            }
        }
        return result;
    }

    libpff_error_t *local_error = nullptr;
    export_handle_make_directory(export_handle, target_path, log_handle, &local_error);
    export_handle_clear_error(&local_error);

    item_holder embedded;
    if (libpff_attachment_get_item(attachment, embedded.out(), &local_error) == 1 &&
        embedded.get() != nullptr) {
        export_handle_list_item(export_handle, embedded.get(), 0, 1, target_path, target_path_size,
                                embedded_export_format, log_handle, &local_error);
    }
    export_handle_clear_error(&local_error);
    if (embedded.release() != 1) {
        return -1;
    }
    return 1;
}

} // namespace korvel
