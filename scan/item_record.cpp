#include "scan/item_record.h"

#include <bitset>
#include <charconv>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/scan_state.h"
#include "scan/tail_list.h"
#include "scan/target_path.h"
#include "scan/text.h"

namespace korvel {

namespace {

const item_kind kinds[] = {
    {item_type_activity, u"activity", kind_handling::record},
    {item_type_appointment, u"appointment", kind_handling::record},
    {item_type_contact, u"contact", kind_handling::record},
    {item_type_document, u"document", kind_handling::name},
    {item_type_email, u"email", kind_handling::record},
    {item_type_email_smime, u"email", kind_handling::record},
    {item_type_folder, u"folder", kind_handling::folder},
    {item_type_meeting, u"meeting", kind_handling::record},
    {item_type_note, u"note", kind_handling::record},
    {item_type_rss_feed, u"RSSfeed", kind_handling::record},
    {item_type_task, u"task", kind_handling::record},
};

std::u16string replace_all(std::u16string text, std::u16string_view what, std::u16string_view with)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        std::size_t found = text.find(what, start);
        if (found == std::u16string::npos) {
            out.append(text, start, std::u16string::npos);
            return out;
        }
        out.append(text, start, found - start);
        out.append(with);
        start = found + what.size();
    }
}

std::u16string remove_all(std::u16string text, std::u16string_view what)
{
    return what.empty() ? text : replace_all(std::move(text), what, u"");
}

bool kept_in_path(char16_t c)
{
    return c == 32 || (c >= 45 && c <= 57) || (c >= 65 && c <= 92) || (c >= 96 && c <= 122);
}

// The zero-terminated text at buffer[0, size).
std::string_view buffer_text(const std::uint8_t *buffer, std::size_t size)
{
    std::size_t length = 0;
    while (length < size && buffer[length] != 0) {
        ++length;
    }
    return {reinterpret_cast<const char *>(buffer), length};
}

std::u16string flag_word(std::uint32_t flags)
{
    static const struct
    {
        std::uint32_t bit;
        const char16_t *word;
    } words[] = {{0x002, u"Unmodified"},  {0x004, u"Submit"},     {0x008, u"Unsent"},
                 {0x010, u"Attachments"}, {0x020, u"From me"},    {0x040, u"Associated"},
                 {0x080, u"Resend"},      {0x100, u"RN pending"}, {0x200, u"NRN pending"}};
    std::u16string word = (flags & 0x1u) != 0 ? u"Read" : u"Unread";
    for (const auto &entry : words) {
        if ((flags & entry.bit) != 0) {
            word = entry.word;
        }
    }
    return word;
}

std::u16string decimal(std::int64_t value)
{
    char digits[24];
    const char *end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(static_cast<const char *>(digits), end);
}

} // namespace

const item_kind *item_kind_for_type(std::uint8_t type)
{
    for (const auto &kind : kinds) {
        if (kind.type == type) {
            return &kind;
        }
    }
    return nullptr;
}

const item_kind *export_handle_name_kind(export_handle_t *export_handle, libpff_item_t *item,
                                         std::uint8_t *type)
{
    error_slot type_error;
    if (libpff_item_get_type(item, type, type_error.get()) != 1) {
        return nullptr;
    }
    const item_kind *kind = item_kind_for_type(*type);
    if (kind != nullptr && export_handle->state != nullptr) {
        export_handle->state->kind_name = kind->name;
    }
    return kind;
}

int item_record_list_append(item_record_list *list, const item_record &record)
{
    try {
        return item_record_list_append(list, item_record(record));
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

int item_record_list_append(item_record_list *list, item_record &&record)
{
    if (list == nullptr) {
        return -1;
    }
    item_record *node = nullptr;
    try {
        node = new item_record(std::move(record));
    } catch (const std::bad_alloc &) {
        return -1;
    }
    node->next = nullptr;
    tail_list_link(list, node);
    return 1;
}

void item_record_list_free(item_record_list *list)
{
    tail_list_free(list, [](item_record *) {});
}

item_record *item_record_list_find(const item_record_list *list, std::int32_t sequence)
{
    if (list == nullptr) {
        return nullptr;
    }
    for (item_record *node = list->head; node != nullptr; node = node->next) {
        if (node->sequence == sequence) {
            return node;
        }
    }
    return nullptr;
}

std::u16string sanitize_path_text(std::u16string_view path)
{
    std::u16string text = replace_all(std::u16string(path), u"Deleted Items", u"Deleted-Items");
    text = replace_all(std::move(text), u"Top of Personal Folders", u"Top-of-Personal-Folders");
    if (text.empty()) {
        return text;
    }
    // Replacing a character everywhere it occurs, for each one met before the
    // last position, is the same as one pass that remembers what was met.
    auto seen = std::make_unique<std::bitset<65536>>();
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const char16_t c = text[i];
        if (!kept_in_path(c)) {
            seen->set(c);
            text[i] = u'-';
        }
    }
    char16_t &last = text.back();
    if (!kept_in_path(last) && seen->test(last)) {
        last = u'-';
    }
    return text;
}

std::u16string sanitize_byte_text(const std::uint8_t *bytes, std::size_t byte_count)
{
    std::u16string out;
    if (bytes == nullptr) {
        return out;
    }
    // The byte drops only touch ASCII, which never occurs inside a UTF-8
    // sequence; what is left decodes as UTF-8, a stray byte widens as Latin-1.
    std::string kept;
    kept.reserve(byte_count);
    bool ascii = true;
    for (std::size_t i = 0; i < byte_count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b <= 30 || b == 0x5C) {
            continue;
        }
        ascii = ascii && b < 0x80;
        kept.push_back(static_cast<char>(b));
    }
    if (ascii) {
        // Most texts: nothing to decode, and no per-character appends.
        return std::u16string(kept.begin(), kept.end());
    }
    out.reserve(kept.size());
    const auto *data = reinterpret_cast<const unsigned char *>(kept.data());
    std::size_t i = 0;
    while (i < kept.size()) {
        std::uint32_t code_point = 0;
        const std::size_t length = utf8_sequence_length(data + i, kept.size() - i, code_point);
        if (length == 0) {
            // A lone byte; U+00CD made this way is dropped.
            if (data[i] != 0xCD) {
                out.push_back(static_cast<char16_t>(data[i]));
            }
            ++i;
        } else {
            append_code_point(out, code_point);
            i += length;
        }
    }
    return out;
}

namespace {

// The sanitized path text of export_path. A folder's messages share it, and
// working it out takes a large scratch allocation, so it is kept from the
// last message.
const std::u16string &cached_path_text(const char16_t *export_path)
{
    thread_local std::u16string last_export_path;
    thread_local std::u16string last_path;
    if (last_export_path.empty() || last_export_path != export_path) {
        last_path = sanitize_path_text(remove_all(export_path, u".export"));
        last_export_path = export_path;
    }
    return last_path;
}

// The buffer a row's strings are read into, one at a time, kept from row to
// row: most texts fit the first size, and a longer one (or one whose 8-bit
// reading may have been cut short) grows it to the text's size and is read
// again, so every text read is whole.
class row_text_buffer
{
public:
    // False when not even the first size can be had.
    bool ready() { return m_size > 0 || grow(first_size); }

    // Gives back a buffer grown past the first size: one long text (a
    // damaged item's can be huge) is not held for the rows after it.
    void shrink()
    {
        if (m_size > first_size) {
            m_data.reset();
            m_size = 0;
        }
    }

    // Reads the UTF-8 text of tag; true when the item has one.
    bool read(libpff_item_t *item, std::uint32_t tag)
    {
        const int result = read_utf8(item, tag, m_data.get(), m_size);
        if (result == 0 || (result == 1 && 3 * text().size() + 3 < m_size)) {
            return result == 1;
        }
        std::size_t size = 0;
        if (read_utf8_size(item, tag, &size) != 1 || size <= m_size) {
            return result == 1;
        }
        if (!grow(size)) {
            m_data[0] = 0;
            return false;
        }
        return read_utf8(item, tag, m_data.get(), m_size) == 1;
    }

    const std::uint8_t *data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    // The text last read, up to its first zero.
    std::string_view text() const { return buffer_text(m_data.get(), m_size); }

private:
    static constexpr std::size_t first_size = 4096;

    bool grow(std::size_t size)
    {
        if (size > 0x7FFFFFFF) {
            return false;
        }
        std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]);
        if (data == nullptr) {
            return false;
        }
        data[0] = 0;
        m_data = std::move(data);
        m_size = size;
        return true;
    }

    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_size = 0;
};

// The subject as the list shows it, read into buffer: marker and "--" taken
// out, else the conversation topic when that leaves nothing; " " when there
// is no subject.
std::u16string shown_subject(libpff_item_t *item, row_text_buffer &buffer)
{
    if (!buffer.read(item, tag_subject)) {
        return u" ";
    }
    const std::string shown = subject_without_marker(buffer.text());
    std::u16string subject = remove_all(
        sanitize_byte_text(reinterpret_cast<const std::uint8_t *>(shown.c_str()), shown.size() + 1),
        u"--");
    // The topic's bytes are taken up to its size, past any zero inside it.
    std::size_t topic_size = 0;
    if (subject.empty() && read_utf8_size(item, tag_conversation_topic, &topic_size) == 1 &&
        buffer.read(item, tag_conversation_topic)) {
        subject =
            remove_all(sanitize_byte_text(buffer.data(),
                                          topic_size < buffer.size() ? topic_size : buffer.size()),
                       u"--");
    }
    return subject;
}

// What the kind shows in the From and Subject columns, and their titles.
struct kind_slots
{
    kind_column_titles titles = message_column_titles;
    std::u16string lead;
    std::u16string slot;
};

// text_of(tag) is the item's string of tag, or empty.
kind_slots kind_slots_of(libpff_item_t *item, std::uint8_t item_type, std::u16string subject,
                         std::u16string sender,
                         const std::function<std::u16string(std::uint32_t)> &text_of)
{
    kind_slots slots;
    switch (item_type) {
    case item_type_contact:
        slots.titles = contact_column_titles;
        slots.lead = std::move(subject);
        slots.slot = text_of(tag_company_name);
        break;
    case item_type_activity:
        slots.titles = activity_column_titles;
        slots.lead = text_of(lid_log_type);
        slots.slot = std::move(subject);
        break;
    case item_type_appointment:
        slots.titles = appointment_column_titles;
        slots.lead = std::move(subject);
        slots.slot = text_of(lid_location);
        break;
    case item_type_task: {
        slots.titles = task_column_titles;
        slots.lead = std::move(subject);
        std::uint32_t status = 0;
        if (read_int32(item, lid_task_status, &status) == 1 && status < task_status_words.size()) {
            slots.slot = task_status_words[status];
        }
        break;
    }
    default:
        slots.lead = std::move(sender);
        slots.slot = std::move(subject);
        break;
    }
    return slots;
}

// Importance, priority and sensitivity as the list words them.
void read_rating_words(libpff_item_t *item, item_record &record)
{
    std::uint32_t value = 0;
    if (read_int32(item, tag_importance, &value) == 1 && value <= 2) {
        static const char16_t *const importances[] = {u"Low", u"Normal", u"High"};
        record.importance = importances[value];
    }
    record.priority = u"None";
    if (read_int32(item, tag_priority, &value) == 1) {
        const auto priority = static_cast<std::int32_t>(value);
        if (priority == -1) {
            record.priority = u"Non Urgent";
        } else if (priority == 0) {
            record.priority = u"Normal";
        } else if (priority == 1) {
            record.priority = u"Urgent";
        }
    }
    record.sensitivity = u"None";
    if (read_int32(item, tag_sensitivity, &value) == 1 && value <= 3) {
        static const char16_t *const sensitivities[] = {u"None", u"Personal", u"Private",
                                                        u"Confidential"};
        record.sensitivity = sensitivities[value];
    }
}

// The record's row at the top of the list (a blank cell for what it lacks).
void show_record_row(scan_views &views, const item_record &record)
{
    const int row = views.list_insert_row(decimal(record.sequence));
    if (row < 0) {
        return;
    }
    const std::u16string *cells[10] = {nullptr,
                                       &record.kind,
                                       &record.from,
                                       record.subject.empty() ? nullptr : &record.subject,
                                       &record.date,
                                       record.flags ? &*record.flags : nullptr,
                                       record.size ? &*record.size : nullptr,
                                       &record.priority,
                                       &record.sensitivity,
                                       record.importance ? &*record.importance : nullptr};
    for (int column = 1; column < 10; ++column) {
        views.list_set_cell(row, column, cells[column]);
    }
}

} // namespace

int export_handle_export_message_header(export_handle_t *export_handle, libpff_item_t *item,
                                        const char16_t *export_path, std::uint8_t item_type,
                                        int index, libpff_error_t **error)
{
    (void)error;
    if (export_handle == nullptr || item == nullptr || export_path == nullptr) {
        return -1;
    }
    scan_state *state = export_handle->state;
    scan_views *views = state != nullptr ? state->views : nullptr;

    // 1. The path text.
    const std::u16string &path = cached_path_text(export_path);

    // 2. One buffer for every string read, kept from row to row.
    thread_local row_text_buffer buffer;
    if (!buffer.ready()) {
        return -1;
    }
    struct shrink_at_return
    {
        row_text_buffer &buffer;
        ~shrink_at_return() { buffer.shrink(); }
    } shrink_buffer{buffer};
    auto read_text = [&](std::uint32_t tag) { return buffer.read(item, tag); };
    auto converted = [&]() { return decode_8bit(buffer.text()); };

    item_record record{};
    record.parent = state != nullptr ? state->current_parent_item : nullptr;
    record.path = path;
    record.kind = state != nullptr ? state->kind_name : std::u16string();
    record.index = index;

    // 3. Date.
    std::uint64_t filetime = 0;
    if (read_filetime(item, tag_message_delivery_time, &filetime) == 1) {
        record.date = filetime_date_text(filetime);
    }

    // 4. Size.
    std::uint32_t value = 0;
    if (read_int32(item, tag_message_size, &value) == 1) {
        record.size = decimal(static_cast<std::int32_t>(value)).append(u"  Bytes");
    }

    // 5. Flags.
    if (read_int32(item, tag_message_flags, &value) == 1) {
        record.flags = flag_word(value);
    }

    // 6, 7. Subject.
    std::u16string subject = shown_subject(item, buffer);

    // 9. Sender name.
    std::u16string sender = read_text(tag_sender_name) ? converted() : u"Unknown";

    // 10. The kind's own slot texts and column titles.
    kind_slots slots = kind_slots_of(
        item, item_type, std::move(subject), std::move(sender),
        [&](std::uint32_t tag) { return read_text(tag) ? converted() : std::u16string(); });
    if (views != nullptr) {
        views->list_rename_column(2, slots.titles.from);
        views->list_rename_column(3, slots.titles.subject);
    }

    // 11. From text.
    record.from = std::move(slots.lead);
    if (read_text(tag_sender_email_address)) {
        const std::string_view address = buffer.text();
        if (address.find('@') != std::string_view::npos) {
            const std::u16string shown_address = converted();
            record.from.reserve(record.from.size() + shown_address.size() + 3);
            record.from.append(u" <").append(shown_address).append(u">");
        }
    }
    record.subject = std::move(slots.slot);

    // 12 to 14. Importance, priority, sensitivity.
    read_rating_words(item, record);

    // 15. The row, then the record.
    if (state == nullptr) {
        return -1;
    }
    record.sequence = ++state->record_sequence;
    if (views != nullptr) {
        show_record_row(*views, record);
    }
    if (item_record_list_append(&state->records, std::move(record)) != 1) {
        if (views != nullptr) {
            views->memory_exhausted(message_caption, u"Not Enough Memory");
        }
        return -1;
    }
    return 1;
}

} // namespace korvel
