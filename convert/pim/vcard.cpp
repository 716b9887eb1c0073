#include "convert/pim/vcard.h"

#include <array>
#include <cstdio>

#include "convert/pim/pim_values.h"
#include "convert/pim/recurrence.h"
#include "scan/folder_messages.h"
#include "scan/names.h"
#include "scan/pff_values.h"

namespace korvel::convert {

namespace {

// PidLidEmail1..3EmailAddress, the display names that often carry the
// address of an Exchange entry, and the address types.
struct email_slot
{
    std::uint32_t address;
    std::uint32_t original_display_name;
    std::uint32_t address_type;
};
constexpr std::array<email_slot, 3> email_slots = {{
    {0x8083, 0x8084, 0x8082},
    {0x8093, 0x8094, 0x8092},
    {0x80A3, 0x80A4, 0x80A2},
}};

struct telephone
{
    std::uint32_t tag;
    const char *types;
};
constexpr std::array<telephone, 17> telephones = {{
    {0x3A1A, "PREF,VOICE"}, // primary
    {0x3A08, "WORK,VOICE"}, // business
    {0x3A1B, "WORK,VOICE"}, // business 2
    {0x3A57, "WORK,VOICE"}, // company main
    {0x3A09, "HOME,VOICE"}, // home
    {0x3A2F, "HOME,VOICE"}, // home 2
    {0x3A1C, "CELL,VOICE"}, // mobile
    {0x3A1E, "CAR,VOICE"},  // car
    {0x3A21, "PAGER"},      // pager
    {0x3A24, "WORK,FAX"},   // business fax
    {0x3A25, "HOME,FAX"},   // home fax
    {0x3A23, "FAX"},        // primary fax
    {0x3A2D, "ISDN"},       // ISDN
    {0x3A1F, "VOICE"},      // other
    {0x3A02, "VOICE"},      // callback
    {0x3A2E, "VOICE"},      // assistant
    {0x3A1D, "VOICE"},      // radio
}};

// Post office box, street, city, state, postal code, country.
struct address_tags
{
    std::array<std::uint32_t, 6> tags;
    const char *type;
};
constexpr std::array<address_tags, 4> addresses = {{
    {{0x804A, 0x8045, 0x8046, 0x8047, 0x8048, 0x8049}, "WORK"},
    {{0x3A2B, 0x3A29, 0x3A27, 0x3A28, 0x3A2A, 0x3A26}, "WORK"},
    {{0x3A5E, 0x3A5D, 0x3A59, 0x3A5C, 0x3A5B, 0x3A5A}, "HOME"},
    {{0x3A64, 0x3A63, 0x3A5F, 0x3A62, 0x3A61, 0x3A60}, nullptr},
}};

std::string text_of(libpff_item_t *item, std::uint32_t tag)
{
    std::string text;
    if (pim_read_text(item, tag, text) != 1) {
        text.clear();
    }
    return text;
}

void add_line(std::string &card, std::string_view name, std::string_view value)
{
    std::string line(name);
    line += ':';
    line += value;
    card += fold_content_line(line);
}

// A structured value: components escaped one by one, joined by ';'.
std::string structured(std::initializer_list<std::string_view> parts)
{
    std::string out;
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) {
            out += ';';
        }
        first = false;
        out += vcard_escape(part, true);
    }
    return out;
}

// The address of an e-mail slot: the address itself when it is one, else
// one in the original display name ("Ann (ann@example.com)").
std::string slot_address(libpff_item_t *item, const email_slot &slot)
{
    std::string address = text_of(item, slot.address);
    if (address.find('@') != std::string::npos) {
        return address;
    }
    const std::string shown = text_of(item, slot.original_display_name);
    const std::size_t open = shown.rfind('(');
    const std::size_t close = shown.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open + 1) {
        std::string inner = shown.substr(open + 1, close - open - 1);
        if (inner.find('@') != std::string::npos) {
            return inner;
        }
    }
    if (shown.find('@') != std::string::npos && shown.find(' ') == std::string::npos) {
        return shown;
    }
    return {};
}

std::string date_text(std::int64_t minutes)
{
    const civil_time time = civil_from_minutes(minutes);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", time.year, time.month, time.day);
    return text;
}

// The birthday as a date. The local birthday is that day's midnight; the
// plain one is midnight local as UTC, up to half a day off either way.
bool birthday(libpff_item_t *item, std::string &text)
{
    std::uint64_t filetime = 0;
    if (read_filetime(item, lid_birthday_local, &filetime) == 1 && filetime != 0 &&
        minutes_in_range(minutes_from_filetime(filetime))) {
        text = date_text(minutes_from_filetime(filetime));
        return true;
    }
    if (read_filetime(item, tag_birthday, &filetime) == 1 && filetime != 0 &&
        minutes_in_range(minutes_from_filetime(filetime) + 12 * 60)) {
        text = date_text(minutes_from_filetime(filetime) + 12 * 60);
        return true;
    }
    return false;
}

// UID from the search key (the same contact keeps it across copies), else
// the item's identifier in this file.
std::string card_uid(libpff_item_t *item)
{
    std::vector<std::uint8_t> key;
    if (pim_read_binary(item, tag_search_key, key) == 1 && !key.empty()) {
        return hex_text(key);
    }
    std::uint32_t identifier = 0;
    error_slot error;
    if (libpff_item_get_identifier(item, &identifier, error.get()) == 1) {
        return "korvel-item-" + std::to_string(identifier);
    }
    return {};
}

void add_common_tail(libpff_item_t *item, std::string &card)
{
    std::string body;
    if (pim_read_body(item, body) == 1 && !body.empty()) {
        add_line(card, "NOTE", vcard_escape(body));
    }
    std::vector<std::string> categories;
    if (pim_read_text_list_by_name(item, "Keywords", categories) == 1 && !categories.empty()) {
        std::string value;
        for (const auto &category : categories) {
            if (!value.empty()) {
                value += ',';
            }
            value += vcard_escape(category);
        }
        add_line(card, "CATEGORIES", value);
    }
    const std::string uid = card_uid(item);
    if (!uid.empty()) {
        add_line(card, "UID", vcard_escape(uid));
    }
    card += "END:VCARD\r\n";
}

void contact_card(libpff_item_t *item, std::string &card)
{
    const std::string surname = text_of(item, tag_surname);
    const std::string given = text_of(item, tag_given_name);
    const std::string middle = text_of(item, tag_middle_name);
    const std::string prefix = text_of(item, tag_display_name_prefix);
    const std::string suffix = text_of(item, tag_generation);

    std::string name = text_of(item, tag_display_name);
    if (name.empty()) {
        for (const std::string &part : {given, middle, surname}) {
            if (!part.empty()) {
                name += name.empty() ? "" : " ";
                name += part;
            }
        }
    }
    if (name.empty()) {
        name = text_of(item, lid_file_under);
    }
    if (name.empty()) {
        name = pim_read_subject(item);
    }
    card += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    add_line(card, "FN", vcard_escape(name));
    add_line(card, "N", structured({surname, given, middle, prefix, suffix}));
    const std::string nickname = text_of(item, tag_nickname);
    if (!nickname.empty()) {
        add_line(card, "NICKNAME", vcard_escape(nickname));
    }
    const std::string company = text_of(item, tag_company_name);
    const std::string department = text_of(item, tag_department_name);
    if (!company.empty() || !department.empty()) {
        add_line(card, "ORG",
                 department.empty() ? vcard_escape(company) : structured({company, department}));
    }
    const std::string title = text_of(item, tag_title);
    if (!title.empty()) {
        add_line(card, "TITLE", vcard_escape(title));
    }
    bool first_email = true;
    std::vector<std::string> emails;
    for (const auto &slot : email_slots) {
        const std::string address = slot_address(item, slot);
        if (address.empty()) {
            continue;
        }
        bool seen = false;
        for (const auto &other : emails) {
            seen = seen || other == address;
        }
        if (seen) {
            continue;
        }
        emails.push_back(address);
        add_line(card, first_email ? "EMAIL;TYPE=INTERNET,PREF" : "EMAIL;TYPE=INTERNET",
                 vcard_escape(address));
        first_email = false;
    }
    for (const auto &phone : telephones) {
        const std::string number = text_of(item, phone.tag);
        if (!number.empty()) {
            add_line(card, std::string("TEL;TYPE=") + phone.types, vcard_escape(number));
        }
    }
    bool work_written = false;
    for (const auto &address : addresses) {
        std::array<std::string, 6> parts;
        bool any = false;
        for (std::size_t index = 0; index < parts.size(); ++index) {
            parts[index] = text_of(item, address.tags[index]);
            any = any || !parts[index].empty();
        }
        const bool work = address.type != nullptr && std::string_view(address.type) == "WORK";
        // The work address is kept twice (named and tagged): write it once.
        if (!any || (work && work_written)) {
            continue;
        }
        work_written = work_written || work;
        add_line(card, address.type != nullptr ? std::string("ADR;TYPE=") + address.type : "ADR",
                 structured({parts[0], "", parts[1], parts[2], parts[3], parts[4], parts[5]}));
    }
    std::string day;
    if (birthday(item, day)) {
        add_line(card, "BDAY;VALUE=DATE", day);
    }
    for (std::uint32_t tag : {tag_business_home_page, tag_personal_home_page}) {
        const std::string url = text_of(item, tag);
        if (!url.empty()) {
            add_line(card, "URL", vcard_escape(url));
        }
    }
    add_common_tail(item, card);
}

void group_card(libpff_item_t *item, std::string &card)
{
    std::string name = text_of(item, tag_display_name);
    if (name.empty()) {
        name = pim_read_subject(item);
    }
    card += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    add_line(card, "FN", vcard_escape(name));
    add_line(card, "N", structured({name, "", "", "", ""}));
    add_line(card, "X-ADDRESSBOOKSERVER-KIND", "group");
    std::vector<std::vector<std::uint8_t>> members;
    if (pim_read_binary_list(item, lid_distribution_list_one_off_members, members) == 1) {
        for (const auto &member : members) {
            one_off_entry entry;
            if (parse_one_off_entry_id(member, entry) &&
                entry.address.find('@') != std::string::npos) {
                add_line(card, "X-ADDRESSBOOKSERVER-MEMBER",
                         "mailto:" + vcard_escape(entry.address));
            }
        }
    }
    add_common_tail(item, card);
}

} // namespace

bool is_contact_class(std::string_view message_class)
{
    return message_class_is(message_class, "IPM.Contact");
}

bool is_distribution_list_class(std::string_view message_class)
{
    return message_class_is(message_class, "IPM.DistList");
}

int contact_to_vcard(libpff_item_t *item, std::string &out, std::string &error)
{
    if (item == nullptr) {
        error = "no item";
        return -1;
    }
    const std::string message_class = pim_message_class(item);
    std::string card;
    try {
        if (is_contact_class(message_class)) {
            contact_card(item, card);
        } else if (is_distribution_list_class(message_class)) {
            group_card(item, card);
        } else {
            return 0;
        }
    } catch (const std::bad_alloc &) {
        error = "out of memory reading the contact";
        return -1;
    }
    out += card;
    return 1;
}

int folder_write_vcards(libpff_item_t *folder, std::ostream &stream, vcard_folder_counts &counts,
                        std::string &error)
{
    if (folder == nullptr) {
        error = "no folder";
        return -1;
    }
    const auto where = [](int index) { return "item " + std::to_string(index + 1) + ": "; };
    error_slot pff_error;
    const int walked = export_handle_walk_sub_messages(
        nullptr, folder,
        [&](libpff_item_t *message, int index) {
            std::string card;
            std::string why;
            const int result = contact_to_vcard(message, card, why);
            if (result == 0) {
                ++counts.skipped;
            } else if (result < 0) {
                counts.unreadable.push_back(where(index) + why);
            } else {
                stream.write(card.data(), static_cast<std::streamsize>(card.size()));
                ++counts.written;
            }
            return stream ? 1 : 0;
        },
        [&](int index) { counts.unreadable.push_back(where(index) + "cannot be read"); },
        pff_error.get());
    if (walked == -1) {
        error = "the folder's messages cannot be listed";
        return -1;
    }
    if (!stream) {
        error = "the contacts could not be written";
        return -1;
    }
    return 1;
}

std::string vcard_escape(std::string_view text, bool semicolons)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char c = text[index];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case ',':
            out += "\\,";
            break;
        case ';':
            out += semicolons ? "\\;" : ";";
            break;
        case '\r':
            if (index + 1 < text.size() && text[index + 1] == '\n') {
                ++index;
            }
            out += "\\n";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            // Other control characters have no place in a content line.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                break;
            }
            out += c;
        }
    }
    return out;
}

std::string fold_content_line(std::string_view line)
{
    constexpr std::size_t limit = 75;
    std::string out;
    out.reserve(line.size() + line.size() / 64 * 3 + 2);
    std::size_t used = 0;
    std::size_t index = 0;
    while (index < line.size()) {
        // The whole UTF-8 sequence goes on one line.
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(line[index]);
        if (lead >= 0xF0) {
            length = 4;
        } else if (lead >= 0xE0) {
            length = 3;
        } else if (lead >= 0xC0) {
            length = 2;
        }
        if (index + length > line.size()) {
            length = line.size() - index;
        }
        if (used + length > limit) {
            out += "\r\n ";
            used = 1;
        }
        out.append(line.substr(index, length));
        used += length;
        index += length;
    }
    out += "\r\n";
    return out;
}

} // namespace korvel::convert
