// Our PST writer: writes a PST file, streaming, in the 64-bit layout with
// Unicode text or in the older 32-bit layout with 8-bit text.
//
//   korvel::convert::pst_writer w(path);
//   std::uint32_t inbox = w.add_folder(w.root_folder(), folder_props);
//   w.add_message(inbox, message);   // written to disk at once
//   w.finish();                      // tables, B-trees, maps and header
//
// Messages (with their recipients, attachments and bodies) go to disk when
// they are added; folders, the name-to-id map and one table row per message
// stay in memory until finish(). Errors throw std::runtime_error; failures of
// the output file itself throw output_error.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "format/multi_value.h"

namespace korvel::convert {

namespace ndb {
class file_writer;
}
namespace ltp {
struct node_context;
struct row;
struct value;
}

// The output file itself failed (cannot be created, disk full, no
// permission): nothing more can be written. Other errors concern one item.
class output_error : public std::runtime_error
{
public:
    output_error(const std::string &what, int error_number)
        : std::runtime_error(what), m_errno(error_number)
    {
    }
    // The errno value behind it.
    int error_number() const { return m_errno; }

private:
    int m_errno;
};

// Property types.
enum property_type : std::uint16_t {
    pt_short = 0x0002,
    pt_long = 0x0003,
    pt_float = 0x0004,
    pt_double = 0x0005,
    pt_currency = 0x0006,
    pt_apptime = 0x0007,
    pt_error = 0x000A,
    pt_boolean = 0x000B,
    pt_object = 0x000D,
    pt_i8 = 0x0014,
    pt_string8 = 0x001E,
    pt_unicode = 0x001F,
    pt_systime = 0x0040,
    pt_clsid = 0x0048,
    pt_binary = 0x0102,
    pt_mv = 0x1000, // or-ed into a base type for the multi-valued kinds
};

struct guid
{
    // The 16 bytes as stored (first three fields little-endian).
    std::array<std::uint8_t, 16> bytes{};
    // Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (braces allowed); throws on bad text.
    static guid parse(std::string_view text);
    bool operator==(const guid &) const = default;
    auto operator<=>(const guid &) const = default;
};

// Well-known property sets.
namespace psets {
extern const guid mapi;             // PS_MAPI
extern const guid public_strings;   // PS_PUBLIC_STRINGS
extern const guid common;           // PSETID_Common
extern const guid address;          // PSETID_Address
extern const guid appointment;      // PSETID_Appointment
extern const guid task;             // PSETID_Task
extern const guid log;              // PSETID_Log
extern const guid note;             // PSETID_Note
extern const guid internet_headers; // PS_INTERNET_HEADERS
} // namespace psets

// A property: a tag id (below 0x8000) or a named property (set and numeric id
// or set and string name). Converts from a plain id, so set_long(0x0E07, 1) works.
struct property_key
{
    property_key(std::uint16_t tag_id) : id(tag_id) {}
    property_key(const guid &property_set, std::uint32_t numeric_id)
        : named(true), set(property_set), lid(numeric_id)
    {
    }
    property_key(const guid &property_set, std::u16string string_name)
        : named(true), set(property_set), name(std::move(string_name)), is_string(true)
    {
    }
    // Tag id when not named.
    std::uint16_t id = 0;
    // True for a named property.
    bool named = false;
    // Property set of a named property.
    guid set{};
    // Numeric name (long id) of a numeric named property.
    std::uint32_t lid = 0;
    // Name of a string named property.
    std::u16string name;
    // True when the name is a string.
    bool is_string = false;
    bool operator==(const property_key &o) const
    {
        return named == o.named && id == o.id && set == o.set && lid == o.lid &&
               name == o.name && is_string == o.is_string;
    }
};

// A named-property key, e.g. named(psets::appointment, 0x8208) for PidLidLocation.
inline property_key named(const guid &set, std::uint32_t lid) { return {set, lid}; }
inline property_key named(const guid &set, std::u16string name) { return {set, std::move(name)}; }

struct property
{
    // Which property.
    property_key key;
    // Its type (with pt_mv for multi-valued kinds).
    std::uint16_t type = 0;
    // The value as stored in the file.
    std::vector<std::uint8_t> value;
};

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);
// The stored form of a multi-valued variable-size property.
using format::mv_variable_join;
// 100-nanosecond intervals since 1601 (FILETIME) for a Unix time in seconds.
std::uint64_t filetime_from_unix(std::int64_t seconds);

// An ordered set of properties; setting a key again replaces its value.
class property_bag
{
public:
    property_bag &set_short(const property_key &key, std::int16_t v);
    property_bag &set_long(const property_key &key, std::int32_t v);
    property_bag &set_boolean(const property_key &key, bool v);
    property_bag &set_float(const property_key &key, float v);
    property_bag &set_double(const property_key &key, double v);
    property_bag &set_i8(const property_key &key, std::int64_t v);
    property_bag &set_currency(const property_key &key, std::int64_t v);
    property_bag &set_systime(const property_key &key, std::uint64_t filetime);
    property_bag &set_error(const property_key &key, std::uint32_t v);
    property_bag &set_unicode(const property_key &key, std::string_view utf8);
    property_bag &set_unicode(const property_key &key, std::u8string_view utf8);
    property_bag &set_unicode(const property_key &key, std::u16string_view utf16);
    // 8-bit text stored as given (any code page; see PidTagMessageCodepage 0x3FFD).
    property_bag &set_string8(const property_key &key, std::string_view bytes);
    property_bag &set_binary(const property_key &key, std::span<const std::uint8_t> bytes);
    property_bag &set_binary(const property_key &key, std::string_view bytes);
    property_bag &set_guid(const property_key &key, const guid &v);
    property_bag &set_mv_short(const property_key &key, const std::vector<std::int16_t> &v);
    property_bag &set_mv_long(const property_key &key, const std::vector<std::int32_t> &v);
    property_bag &set_mv_float(const property_key &key, const std::vector<float> &v);
    property_bag &set_mv_double(const property_key &key, const std::vector<double> &v);
    property_bag &set_mv_i8(const property_key &key, const std::vector<std::int64_t> &v);
    property_bag &set_mv_systime(const property_key &key, const std::vector<std::uint64_t> &v);
    property_bag &set_mv_guid(const property_key &key, const std::vector<guid> &v);
    property_bag &set_mv_unicode(const property_key &key, const std::vector<std::string> &utf8);
    property_bag &set_mv_string8(const property_key &key, const std::vector<std::string> &bytes);
    property_bag &set_mv_binary(const property_key &key,
                                const std::vector<std::vector<std::uint8_t>> &v);
    // Any type, value already in stored form.
    property_bag &set_raw(const property_key &key, std::uint16_t type,
                          std::vector<std::uint8_t> value);

    // Bodies: PidTagBody, PidTagHtml, and PidTagRtfCompressed (LZFu-compressed
    // unless compress is false) with PidTagRtfInSync.
    property_bag &set_body(std::string_view utf8);
    property_bag &set_html(std::string_view html);
    property_bag &set_rtf(std::string_view rtf, bool compress = true);

    // Removes a property; no-op when absent.
    property_bag &erase(const property_key &key);
    // The property with the key, or nullptr.
    const property *find(const property_key &key) const;
    const std::vector<property> &items() const { return m_items; }

private:
    std::vector<property> m_items;
};

// Where an attachment's bytes come from: read(offset, out) fills out from the
// given offset (throws on failure). Read in order, in pieces, when written.
struct data_source
{
    // Total size in bytes.
    std::uint64_t size = 0;
    // Fills the buffer with the bytes at the offset.
    std::function<void(std::uint64_t offset, std::span<std::uint8_t> out)> read;
    static data_source from_bytes(std::vector<std::uint8_t> bytes);
    static data_source from_string(std::string_view bytes);
    // The file's contents; throws when it cannot be opened.
    static data_source from_file(const std::string &path);
    // size bytes of a reproducible pattern (see pattern_byte).
    static data_source pattern(std::uint64_t size, std::uint32_t seed);
};

// Byte at the offset of data_source::pattern(size, seed).
std::uint8_t pattern_byte(std::uint32_t seed, std::uint64_t offset);

struct message;

// An attachment: its own properties (PidTagAttachLongFilename 0x3707 and so on)
// plus its content. PidTagAttachMethod and PidTagAttachSize are set when absent.
struct attachment : property_bag
{
    enum class kind { by_value, embedded, by_reference };
    // How the attachment is stored.
    kind how = kind::by_value;
    // Content of a by-value attachment (PidTagAttachDataBinary).
    data_source data;
    // The message of an embedded attachment.
    std::shared_ptr<message> embedded;
};

// A message: properties, one recipient row each, attachments.
struct message : property_bag
{
    message() = default;
    // Sets PidTagMessageClass.
    explicit message(std::string_view message_class);
    // Recipients; each should have PidTagRecipientType 0x0C15 and names.
    std::vector<property_bag> recipients;
    std::vector<attachment> attachments;

    // A recipient row with PidTagRecipientType, PidTagDisplayName and, when
    // given, PidTagEmailAddress/PidTagAddressType "SMTP".
    property_bag &add_recipient(std::int32_t type, std::string_view name,
                                std::string_view email = {});
    // A by-value attachment with PidTagAttachLongFilename and PidTagAttachFilename.
    attachment &add_attachment(std::string_view filename, data_source content);
    // An embedded message attachment; returns the embedded message to fill.
    message &add_embedded(std::string_view display_name, std::string_view message_class);
    // A by-reference attachment (PidTagAttachLongPathname).
    attachment &add_reference(std::string_view filename, std::string_view path);
};

// Writer settings.
struct writer_options
{
    // Block encoding: true for "permute" (the usual), false for none.
    bool permute = true;
    // Encode, checksum and write blocks on a thread of their own while the
    // caller goes on building items; the file is byte for byte the same.
    bool write_thread = false;
    // The older 32-bit layout. Its text is 8-bit: every PT_UNICODE value is
    // stored as PT_STRING8 in the item's code page (PidTagMessageCodepage,
    // else PidTagInternetCodepage, else code_page); a character the code
    // page lacks becomes '?'. PT_STRING8 values are stored as given.
    bool ansi = false;
    // The store's code page: folder names, the store's own text and items
    // that name none.
    std::uint32_t code_page = 1252;
    // PidTagDisplayName of the message store.
    std::string store_name = "Personal Folders";
    // PidTagRecordKey of the store (also in every entry id); fixed for reproducible files.
    guid store_guid = guid::parse("4b4f5256-454c-5053-5452-455041495200");
};

class pst_writer
{
public:
    // Creates the file (truncating it). Throws when it cannot be created.
    explicit pst_writer(const std::string &path, writer_options options = {});
    ~pst_writer();
    pst_writer(const pst_writer &) = delete;
    pst_writer &operator=(const pst_writer &) = delete;

    // Node id of the root folder.
    static constexpr std::uint32_t root_folder() { return 0x122; }

    // Adds a folder; props may hold PidTagDisplayName 0x3001 (or none) and any
    // other folder property (PidTagContainerClass 0x3613 ...). Returns its node id.
    std::uint32_t add_folder(std::uint32_t parent, const property_bag &props);
    // Adds "Top of Personal Folders" under the root with its usual sub-folders
    // ("Deleted Items", "Inbox", "Outbox", "Sent Items", "Calendar", "Contacts",
    // "Journal", "Notes", "Tasks", "Drafts", "Junk E-mail") and "Search Root";
    // returns the node id of the top folder.
    std::uint32_t add_top_of_personal_folders();
    // Which folder the store names as its IPM subtree ("Top of Personal
    // Folders"), its Deleted Items or its search root.
    enum class special_folder { ipm_subtree, deleted_items, search_root };
    // Names an added folder as one of the store's special folders.
    void set_special_folder(special_folder which, std::uint32_t nid);
    // Adds or replaces properties of an existing folder (the root included).
    void set_folder_properties(std::uint32_t nid, const property_bag &props);
    // Node id of a direct sub-folder by display name (UTF-8), 0 when none.
    std::uint32_t find_folder(std::uint32_t parent, std::string_view name) const;
    // Writes a message into the folder now and returns its node id.
    std::uint32_t add_message(std::uint32_t folder, const message &m);
    // Writes a folder-associated (hidden) message.
    std::uint32_t add_associated_message(std::uint32_t folder, const message &m);
    // Writes everything that is left and closes the file.
    void finish();

private:
    struct folder_state;
    struct named_entry;
    struct text_encoder;
    // The code page of an item's 8-bit text (see writer_options::ansi).
    std::uint32_t code_page_of(const property_bag &bag) const;
    // The bag's properties as stored: named ones mapped, text in the file's
    // form, sorted by id.
    std::vector<ltp::value> resolve(const property_bag &bag, std::uint32_t code_page);
    // Column tags with the text type of the file's layout.
    std::vector<std::uint32_t> columns(const std::vector<std::uint32_t> &tags) const;
    std::uint32_t write_message(std::uint32_t folder, const message &m, bool associated);
    std::uint64_t write_message_body(const message &m, ltp::node_context &ctx,
                                     std::uint64_t &bid_sub);
    void write_recipient_table(const message &m, ltp::node_context &ctx, std::uint32_t code_page);
    // Writes the attachment's subnode and returns its attachment-table row.
    ltp::row write_attachment(const attachment &a, ltp::node_context &ctx,
                              std::uint32_t code_page);
    folder_state &folder(std::uint32_t nid);
    std::uint16_t named_id(const property_key &key);
    void write_folder(folder_state &f);
    void write_store();
    void write_name_map();
    void write_fixed_nodes();

    std::unique_ptr<ndb::file_writer> m_ndb;
    writer_options m_options;
    std::unique_ptr<text_encoder> m_encoder;
    std::map<std::uint32_t, std::unique_ptr<folder_state>> m_folders;
    std::vector<named_entry> m_named;
    std::uint32_t m_next_folder_index = 0x401;
    std::uint32_t m_next_message_index = 0x10000;
    std::uint32_t m_ipm_subtree = 0;
    std::uint32_t m_wastebasket = 0;
    std::uint32_t m_finder = 0;
    bool m_finished = false;
};

} // namespace korvel::convert
