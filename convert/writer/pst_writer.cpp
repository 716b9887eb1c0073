// The messaging layer: store, name-to-id map, folders, messages, recipients
// and attachments, on top of the table and property layer.
#include "convert/writer/pst_writer.h"

#include "convert/writer/ltp.h"
#include "convert/writer/ndb.h"
#include "format/crc.h"
#include "format/layout.h"
#include "scan/code_page.h"
#include "scan/names.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace korvel::convert {

namespace {

constexpr std::uint32_t nid_message_store = 0x21;
constexpr std::uint32_t nid_name_to_id_map = 0x61;
constexpr std::uint32_t nid_recipient_table = 0x692;
constexpr std::uint32_t nid_attachment_table = 0x671;
constexpr std::uint32_t type_folder = 0x02;
constexpr std::uint32_t type_message = 0x04;
constexpr std::uint32_t type_attachment = 0x05;
constexpr std::uint32_t type_assoc_message = 0x08;
constexpr std::uint32_t type_hierarchy = 0x0D;
constexpr std::uint32_t type_contents = 0x0E;
constexpr std::uint32_t type_assoc_contents = 0x0F;
constexpr std::uint32_t type_ltp = 0x1F;
constexpr std::size_t bucket_count = 251;

constexpr std::uint32_t tag(std::uint16_t id, std::uint16_t type)
{
    return (std::uint32_t{id} << 16) | type;
}

const std::vector<std::uint32_t> contents_columns = {
    tag(0x0017, pt_long),    tag(0x001A, pt_unicode), tag(0x0036, pt_long),
    tag(0x0037, pt_unicode), tag(0x0039, pt_systime), tag(0x0042, pt_unicode),
    tag(0x0057, pt_boolean), tag(0x0058, pt_boolean), tag(0x0070, pt_unicode),
    tag(0x0071, pt_binary),  tag(0x0C1A, pt_unicode), tag(0x0E03, pt_unicode),
    tag(0x0E04, pt_unicode), tag(0x0E06, pt_systime), tag(0x0E07, pt_long),
    tag(0x0E08, pt_long),    tag(0x0E17, pt_long),    tag(0x3008, pt_systime)};
const std::vector<std::uint32_t> hierarchy_columns = {
    tag(0x3001, pt_unicode), tag(0x3602, pt_long), tag(0x3603, pt_long),
    tag(0x360A, pt_boolean), tag(0x3613, pt_unicode)};
const std::vector<std::uint32_t> assoc_columns = {
    tag(0x001A, pt_unicode), tag(0x0E07, pt_long), tag(0x0E17, pt_long),
    tag(0x3001, pt_unicode), tag(0x67F1, pt_long)};
const std::vector<std::uint32_t> recipient_columns = {
    tag(0x0C15, pt_long),    tag(0x0E0F, pt_boolean), tag(0x0FF9, pt_binary),
    tag(0x0FFE, pt_long),    tag(0x0FFF, pt_binary),  tag(0x3001, pt_unicode),
    tag(0x3002, pt_unicode), tag(0x3003, pt_unicode), tag(0x300B, pt_binary),
    tag(0x3900, pt_long),    tag(0x39FF, pt_unicode), tag(0x3A40, pt_boolean)};
const std::vector<std::uint32_t> attachment_columns = {
    tag(0x0E20, pt_long), tag(0x3704, pt_unicode), tag(0x3705, pt_long), tag(0x370B, pt_long)};

std::vector<std::uint8_t> le32(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

void append(std::vector<std::uint8_t> &out, const std::vector<std::uint8_t> &more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// Values sorted by id with later duplicates winning.
std::vector<ltp::value> sorted_values(std::vector<ltp::value> values)
{
    std::stable_sort(values.begin(), values.end(),
                     [](const ltp::value &a, const ltp::value &b) { return a.id < b.id; });
    std::vector<ltp::value> out;
    for (auto &v : values) {
        if (!out.empty() && out.back().id == v.id) {
            out.back() = std::move(v);
        } else {
            out.push_back(std::move(v));
        }
    }
    return out;
}

const ltp::value *find_value(const std::vector<ltp::value> &values, std::uint16_t id)
{
    for (const auto &v : values) {
        if (v.id == id) {
            return &v;
        }
    }
    return nullptr;
}

std::int32_t long_value(const std::vector<ltp::value> &values, std::uint16_t id, std::int32_t dflt)
{
    const ltp::value *v = find_value(values, id);
    if (!v || v->type != pt_long || v->bytes.size() != 4) {
        return dflt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v->bytes[0]) |
                                     (static_cast<std::uint32_t>(v->bytes[1]) << 8) |
                                     (static_cast<std::uint32_t>(v->bytes[2]) << 16) |
                                     (static_cast<std::uint32_t>(v->bytes[3]) << 24));
}

// One table row from the values that match the columns by id and type.
ltp::row make_row(std::uint32_t row_id, const std::vector<std::uint32_t> &columns,
                  const std::vector<ltp::value> &values)
{
    ltp::row r;
    r.row_id = row_id;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const ltp::value *v = find_value(values, static_cast<std::uint16_t>(columns[c] >> 16));
        if (v && v->type == static_cast<std::uint16_t>(columns[c]) && !v->subnode) {
            r.cells.emplace_back(static_cast<std::uint16_t>(c), v->bytes);
        }
    }
    return r;
}

// Writes a table as a subnode of ctx's node.
void write_sub_table(ltp::node_context &ctx, std::uint32_t nid,
                     const std::vector<std::uint32_t> &columns, const std::vector<ltp::row> &rows)
{
    ltp::node_context table(ctx.ndb);
    std::uint64_t bid = ltp::write_tc(table, columns, rows);
    std::uint64_t sub = ctx.ndb.write_subnodes(table.subnodes);
    ctx.subnodes.push_back({nid, bid, sub});
}

// Writes a top-level table node.
void write_table_node(ndb::file_writer &w, std::uint32_t nid, std::uint32_t parent,
                      const std::vector<std::uint32_t> &columns, const std::vector<ltp::row> &rows)
{
    ltp::node_context table(w);
    std::uint64_t bid = ltp::write_tc(table, columns, rows);
    std::uint64_t sub = w.write_subnodes(table.subnodes);
    w.add_node(nid, bid, sub, parent);
}

std::uint32_t string_crc(const std::u16string &name)
{
    std::vector<std::uint8_t> b;
    for (char16_t c : name) {
        b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return format::crc32(0, b.data(), b.size());
}

// An attached file's data: in the attachment's heap when it fits, else in a
// subnode of actx, streamed from the source a chunk at a time.
ltp::value attachment_data(const attachment &a, ltp::node_context &actx)
{
    const std::uint64_t size = a.data.size;
    if (size > 0xFFFFFFFFu) {
        throw std::runtime_error("attachment of 4 GiB or more");
    }
    ltp::value data{tag_attach_data, pt_binary, {}, {}};
    if (size <= ltp::heap_max_alloc) {
        data.bytes.resize(static_cast<std::size_t>(size));
        if (size > 0) {
            a.data.read(0, data.bytes);
        }
        return data;
    }
    ndb::file_writer::data_stream stream(actx.ndb);
    // Filled by the source before it is read: never zeroed.
    const std::size_t chunk_size =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 16));
    auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(chunk_size);
    for (std::uint64_t off = 0; off < size; off += chunk_size) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size, size - off));
        a.data.read(off, std::span<std::uint8_t>(chunk.get(), n));
        stream.append(std::span<const std::uint8_t>(chunk.get(), n));
    }
    std::uint32_t dnid = actx.new_nid(type_ltp);
    actx.subnodes.push_back({dnid, stream.finish(), 0});
    data.subnode = dnid;
    return data;
}

} // namespace

struct pst_writer::folder_state
{
    std::uint32_t nid = 0;
    std::uint32_t parent = 0;
    std::vector<ltp::value> values;
    std::vector<std::uint32_t> children;
    std::vector<ltp::row> contents;
    std::vector<ltp::row> associated;
    std::int32_t unread = 0;
};

struct pst_writer::named_entry
{
    property_key key;
};

// UTF-16 text to a Windows code page through iconv, one handle per code page
// kept for the writer's life. An unknown code page writes as 1252.
struct pst_writer::text_encoder
{
    text_encoder() = default;
    text_encoder(const text_encoder &) = delete;
    text_encoder &operator=(const text_encoder &) = delete;
    ~text_encoder()
    {
        for (auto &[code_page, handle] : handles) {
            if (handle != reinterpret_cast<iconv_t>(-1)) {
                iconv_close(handle);
            }
        }
    }

    iconv_t handle(std::uint32_t code_page)
    {
        auto it = handles.find(code_page);
        if (it == handles.end()) {
            iconv_t h = iconv_open(iconv_code_page_name(code_page).c_str(), "UTF-16LE");
            it = handles.emplace(code_page, h).first;
        }
        if (it->second == reinterpret_cast<iconv_t>(-1)) {
            return code_page == 1252 ? it->second : handle(1252);
        }
        return it->second;
    }

    std::vector<std::uint8_t> encode(const std::vector<std::uint8_t> &utf16,
                                     std::uint32_t code_page)
    {
        iconv_t cd = handle(code_page);
        std::vector<std::uint8_t> out;
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error("no 8-bit character set available");
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::vector<char> in(utf16.begin(), utf16.end());
        char *in_at = in.data();
        std::size_t in_left = in.size() & ~std::size_t{1};
        char buffer[4096];
        while (in_left > 0) {
            char *out_at = buffer;
            std::size_t out_left = sizeof buffer;
            std::size_t r = iconv(cd, &in_at, &in_left, &out_at, &out_left);
            out.insert(out.end(), buffer, out_at);
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // A character the code page lacks (or half a surrogate pair).
                out.push_back('?');
                const std::size_t skip = std::min<std::size_t>(2, in_left);
                in_at += skip;
                in_left -= skip;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        char *out_at = buffer;
        std::size_t out_left = sizeof buffer;
        iconv(cd, nullptr, nullptr, &out_at, &out_left); // shift sequences end
        out.insert(out.end(), buffer, out_at);
        return out;
    }

    std::map<std::uint32_t, iconv_t> handles;
};

pst_writer::pst_writer(const std::string &path, writer_options options)
    : m_ndb(std::make_unique<ndb::file_writer>(path, options.permute, options.ansi,
                                                 options.write_thread)),
      m_options(std::move(options)), m_encoder(std::make_unique<text_encoder>())
{
    auto root = std::make_unique<folder_state>();
    root->nid = root_folder();
    root->parent = root_folder();
    m_folders.emplace(root_folder(), std::move(root));
    // Readers expect non-empty map streams; every store has these two mapped
    // (PidLidReminderSet, PidNameKeywords).
    named_id(property_key(psets::common, lid_reminder_set));
    named_id(property_key(psets::public_strings, std::u16string(u"Keywords")));
}

pst_writer::~pst_writer() = default;

pst_writer::folder_state &pst_writer::folder(std::uint32_t nid)
{
    auto it = m_folders.find(nid);
    if (it == m_folders.end()) {
        throw std::invalid_argument("no such folder");
    }
    return *it->second;
}

std::uint16_t pst_writer::named_id(const property_key &key)
{
    for (std::size_t i = 0; i < m_named.size(); ++i) {
        if (m_named[i].key == key) {
            return static_cast<std::uint16_t>(0x8000 + i);
        }
    }
    if (m_named.size() >= 0x7FFF) {
        throw std::runtime_error("too many named properties");
    }
    m_named.push_back({key});
    return static_cast<std::uint16_t>(0x8000 + m_named.size() - 1);
}

std::uint32_t pst_writer::code_page_of(const property_bag &bag) const
{
    for (std::uint16_t id :
         {std::uint16_t{tag_message_codepage}, std::uint16_t{tag_internet_code_page}}) {
        const property *p = bag.find(id);
        if (p && p->type == pt_long && p->value.size() == 4) {
            std::uint32_t v = format::load_le<std::uint32_t>(p->value.data());
            if (v != 0) {
                return v;
            }
        }
    }
    return m_options.code_page;
}

std::vector<ltp::value> pst_writer::resolve(const property_bag &bag, std::uint32_t code_page)
{
    std::vector<ltp::value> values;
    for (const property &p : bag.items()) {
        std::uint16_t id = p.key.named ? named_id(p.key) : p.key.id;
        if (!m_options.ansi || (p.type & ~pt_mv) != pt_unicode) {
            values.push_back({id, p.type, p.value, {}});
        } else if (p.type == pt_unicode) {
            values.push_back({id, pt_string8, m_encoder->encode(p.value, code_page), {}});
        } else {
            std::vector<std::vector<std::uint8_t>> items;
            format::parse_multi_value(p.value, items);
            for (auto &item : items) {
                item = m_encoder->encode(item, code_page);
            }
            values.push_back({id, pt_mv | pt_string8, mv_variable_join(items), {}});
        }
    }
    return sorted_values(std::move(values));
}

std::vector<std::uint32_t> pst_writer::columns(const std::vector<std::uint32_t> &tags) const
{
    std::vector<std::uint32_t> out = tags;
    if (m_options.ansi) {
        for (std::uint32_t &t : out) {
            if ((t & 0xFFFF) == pt_unicode) {
                t = (t & 0xFFFF0000u) | pt_string8;
            }
        }
    }
    return out;
}

std::uint32_t pst_writer::add_folder(std::uint32_t parent, const property_bag &props)
{
    if (m_finished) {
        throw std::logic_error("writer already finished");
    }
    folder_state &p = folder(parent);
    auto f = std::make_unique<folder_state>();
    f->nid = (m_next_folder_index++ << 5) | type_folder;
    f->parent = parent;
    f->values = resolve(props, m_options.code_page);
    std::uint32_t nid = f->nid;
    p.children.push_back(nid);
    m_folders.emplace(nid, std::move(f));
    return nid;
}

void pst_writer::set_special_folder(special_folder which, std::uint32_t nid)
{
    folder(nid); // throws for an unknown folder
    switch (which) {
    case special_folder::ipm_subtree:
        m_ipm_subtree = nid;
        break;
    case special_folder::deleted_items:
        m_wastebasket = nid;
        break;
    case special_folder::search_root:
        m_finder = nid;
        break;
    }
}

void pst_writer::set_folder_properties(std::uint32_t nid, const property_bag &props)
{
    folder_state &f = folder(nid);
    for (ltp::value &v : resolve(props, m_options.code_page)) {
        f.values.push_back(std::move(v));
    }
    f.values = sorted_values(std::move(f.values));
}

std::uint32_t pst_writer::find_folder(std::uint32_t parent, std::string_view name) const
{
    auto it = m_folders.find(parent);
    if (it == m_folders.end()) {
        return 0;
    }
    property_bag probe;
    probe.set_unicode(tag_display_name, name);
    std::vector<std::uint8_t> wanted = probe.items().front().value;
    std::uint16_t type = pt_unicode;
    if (m_options.ansi) {
        wanted = m_encoder->encode(wanted, m_options.code_page);
        type = pt_string8;
    }
    for (std::uint32_t child : it->second->children) {
        const ltp::value *v = find_value(m_folders.at(child)->values, tag_display_name);
        if (v && v->type == type && v->bytes == wanted) {
            return child;
        }
    }
    return 0;
}

std::uint32_t pst_writer::add_top_of_personal_folders()
{
    auto make = [](std::string_view name, std::string_view container) {
        property_bag b;
        b.set_unicode(tag_display_name, name);
        if (!container.empty()) {
            b.set_unicode(tag_container_class, container);
        }
        return b;
    };
    std::uint32_t top = add_folder(root_folder(), make("Top of Personal Folders", ""));
    m_ipm_subtree = top;
    m_finder = add_folder(root_folder(), make("Search Root", ""));
    m_wastebasket = add_folder(top, make("Deleted Items", "IPF.Note"));
    const std::pair<const char *, const char *> usual[] = {
        {"Inbox", "IPF.Note"},         {"Outbox", "IPF.Note"},
        {"Sent Items", "IPF.Note"},    {"Calendar", "IPF.Appointment"},
        {"Contacts", "IPF.Contact"},   {"Journal", "IPF.Journal"},
        {"Notes", "IPF.StickyNote"},   {"Tasks", "IPF.Task"},
        {"Drafts", "IPF.Note"},        {"Junk E-mail", "IPF.Note"}};
    for (const auto &[name, container] : usual) {
        add_folder(top, make(name, container));
    }
    return top;
}

std::uint32_t pst_writer::add_message(std::uint32_t folder_nid, const message &m)
{
    return write_message(folder_nid, m, false);
}

std::uint32_t pst_writer::add_associated_message(std::uint32_t folder_nid, const message &m)
{
    return write_message(folder_nid, m, true);
}

std::uint32_t pst_writer::write_message(std::uint32_t folder_nid, const message &m,
                                        bool associated)
{
    if (m_finished) {
        throw std::logic_error("writer already finished");
    }
    folder_state &f = folder(folder_nid);
    if (m_next_message_index >= (1u << 27)) {
        throw std::runtime_error("too many messages");
    }
    std::uint32_t nid =
        (m_next_message_index++ << 5) | (associated ? type_assoc_message : type_message);
    ltp::node_context ctx(*m_ndb);
    std::uint64_t bid_sub = 0;
    std::uint64_t bid = write_message_body(m, ctx, bid_sub);
    m_ndb->add_node(nid, bid, bid_sub, folder_nid);

    std::vector<ltp::value> values = resolve(m, code_page_of(m));
    if (associated) {
        f.associated.push_back(make_row(nid, columns(assoc_columns), values));
    } else {
        f.contents.push_back(make_row(nid, columns(contents_columns), values));
        if ((long_value(values, tag_message_flags, 0) & 0x01) == 0) {
            ++f.unread;
        }
    }
    return nid;
}

std::uint64_t pst_writer::write_message_body(const message &m, ltp::node_context &ctx,
                                             std::uint64_t &bid_sub)
{
    // Recipients and attachments are in their message's code page.
    const std::uint32_t code_page = code_page_of(m);
    write_recipient_table(m, ctx, code_page);

    // Attachments: each a subnode with its own properties and subnodes.
    std::vector<ltp::row> arows;
    for (const attachment &a : m.attachments) {
        arows.push_back(write_attachment(a, ctx, code_page));
    }
    if (!m.attachments.empty()) {
        write_sub_table(ctx, nid_attachment_table, columns(attachment_columns), arows);
    }

    std::vector<ltp::value> values = resolve(m, code_page);
    if (!m.attachments.empty()) {
        for (ltp::value &v : values) {
            if (v.id == tag_message_flags && v.type == pt_long && v.bytes.size() == 4) {
                v.bytes[0] = static_cast<std::uint8_t>(v.bytes[0] | 0x10); // has attachments
            }
        }
    }
    std::uint64_t bid = ltp::write_pc(ctx, values);
    bid_sub = ctx.ndb.write_subnodes(ctx.subnodes);
    return bid;
}

// One row a recipient; the columns are the properties the recipients have
// (the usual set when there are none), since readers show a column that a
// row lacks as an empty value.
void pst_writer::write_recipient_table(const message &m, ltp::node_context &ctx,
                                       std::uint32_t code_page)
{
    std::vector<std::vector<ltp::value>> recipients;
    std::vector<std::uint32_t> rcolumns;
    if (m.recipients.empty()) {
        rcolumns = columns(recipient_columns);
    }
    for (const property_bag &r : m.recipients) {
        recipients.push_back(resolve(r, code_page));
        for (const ltp::value &v : recipients.back()) {
            std::uint32_t t = tag(v.id, v.type);
            if (std::find(rcolumns.begin(), rcolumns.end(), t) == rcolumns.end()) {
                rcolumns.push_back(t);
            }
        }
    }
    if (rcolumns.size() > 250) {
        throw std::runtime_error("too many recipient properties");
    }
    std::vector<ltp::row> rrows;
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        rrows.push_back(make_row(static_cast<std::uint32_t>(i), rcolumns, recipients[i]));
    }
    write_sub_table(ctx, nid_recipient_table, rcolumns, rrows);
}

ltp::row pst_writer::write_attachment(const attachment &a, ltp::node_context &ctx,
                                      std::uint32_t code_page)
{
    std::uint32_t anid = ctx.new_nid(type_attachment);
    ltp::node_context actx(ctx.ndb);
    std::vector<ltp::value> values = resolve(a, code_page);
    std::int32_t method = 1;
    std::uint64_t size = 0;
    if (a.how == attachment::kind::by_value) {
        size = a.data.size;
        values.push_back(attachment_data(a, actx));
    } else if (a.how == attachment::kind::embedded) {
        method = 5;
        if (!a.embedded) {
            throw std::invalid_argument("embedded attachment without a message");
        }
        ltp::node_context ectx(ctx.ndb);
        std::uint64_t esub = 0;
        std::uint64_t ebid = write_message_body(*a.embedded, ectx, esub);
        std::uint32_t enid = actx.new_nid(type_message);
        actx.subnodes.push_back({enid, ebid, esub});
        std::vector<std::uint8_t> object = le32(enid);
        append(object,
               le32(static_cast<std::uint32_t>(long_value(
                   resolve(*a.embedded, code_page_of(*a.embedded)), tag_message_size, 0))));
        values.push_back({tag_attach_data, pt_object, object, {}});
    } else {
        method = 2; // afByReference: the file stays where the path says
    }
    if (!find_value(values, tag_attach_method)) {
        values.push_back(
            {tag_attach_method, pt_long, le32(static_cast<std::uint32_t>(method)), {}});
    }
    if (!find_value(values, tag_attach_size)) {
        values.push_back({tag_attach_size, pt_long, le32(static_cast<std::uint32_t>(size)), {}});
    }
    if (!find_value(values, tag_rendering_position)) {
        values.push_back({tag_rendering_position, pt_long, le32(0xFFFFFFFFu), {}});
    }
    values = sorted_values(std::move(values));
    std::uint64_t abid = ltp::write_pc(actx, values);
    std::uint64_t asub = ctx.ndb.write_subnodes(actx.subnodes);
    ctx.subnodes.push_back({anid, abid, asub});
    return make_row(anid, columns(attachment_columns), values);
}

void pst_writer::write_folder(folder_state &f)
{
    std::vector<ltp::value> values = f.values;
    auto set_default = [&](std::uint16_t id, std::uint16_t type, std::vector<std::uint8_t> v) {
        if (!find_value(values, id)) {
            values.push_back({id, type, std::move(v), {}});
        }
    };
    set_default(tag_content_count, pt_long, le32(static_cast<std::uint32_t>(f.contents.size())));
    set_default(tag_content_unread_count, pt_long, le32(static_cast<std::uint32_t>(f.unread)));
    set_default(tag_subfolders, pt_boolean,
                {static_cast<std::uint8_t>(f.children.empty() ? 0 : 1)});
    values = sorted_values(std::move(values));
    ltp::node_context ctx(*m_ndb);
    std::uint64_t bid = ltp::write_pc(ctx, values);
    m_ndb->add_node(f.nid, bid, m_ndb->write_subnodes(ctx.subnodes), f.parent);

    std::vector<ltp::row> hrows;
    for (std::uint32_t child : f.children) {
        const folder_state &c = *m_folders.at(child);
        std::vector<ltp::value> cv = c.values;
        if (!find_value(cv, tag_content_count)) {
            cv.push_back({tag_content_count,
                          pt_long,
                          le32(static_cast<std::uint32_t>(c.contents.size())),
                          {}});
        }
        if (!find_value(cv, tag_content_unread_count)) {
            cv.push_back({tag_content_unread_count,
                          pt_long,
                          le32(static_cast<std::uint32_t>(c.unread)),
                          {}});
        }
        if (!find_value(cv, tag_subfolders)) {
            cv.push_back({tag_subfolders,
                          pt_boolean,
                          {static_cast<std::uint8_t>(c.children.empty() ? 0 : 1)},
                          {}});
        }
        hrows.push_back(make_row(child, columns(hierarchy_columns), cv));
    }
    std::uint32_t index = f.nid & ~0x1Fu;
    write_table_node(*m_ndb, index | type_hierarchy, 0, columns(hierarchy_columns), hrows);
    write_table_node(*m_ndb, index | type_contents, 0, columns(contents_columns), f.contents);
    write_table_node(*m_ndb, index | type_assoc_contents, 0, columns(assoc_columns),
                     f.associated);
    std::vector<ltp::row>().swap(f.contents);
    std::vector<ltp::row>().swap(f.associated);
}

void pst_writer::write_store()
{
    auto entry_id = [&](std::uint32_t nid) {
        // Sized once and copied into: growing it by insert trips g++ 12's -O3
        // array-bounds check.
        const auto &guid_bytes = m_options.store_guid.bytes;
        std::vector<std::uint8_t> id(4 + guid_bytes.size(), 0);
        std::copy(guid_bytes.begin(), guid_bytes.end(), id.begin() + 4);
        append(id, le32(nid));
        return id;
    };
    property_bag store;
    store.set_binary(tag_record_key, m_options.store_guid.bytes);
    store.set_unicode(tag_display_name, m_options.store_name);
    std::int32_t mask = 0x01;
    store.set_binary(tag_ipm_subtree_entry_id,
                     entry_id(m_ipm_subtree ? m_ipm_subtree : root_folder()));
    if (m_wastebasket) {
        store.set_binary(tag_ipm_wastebasket_entry_id, entry_id(m_wastebasket));
        mask |= 0x08;
    }
    if (m_finder) {
        store.set_binary(tag_finder_entry_id, entry_id(m_finder));
        mask |= 0x80;
    }
    store.set_long(tag_valid_folder_mask, mask);
    store.set_long(tag_password, 0);
    std::vector<ltp::value> values = resolve(store, m_options.code_page);
    ltp::node_context ctx(*m_ndb);
    std::uint64_t bid = ltp::write_pc(ctx, values);
    m_ndb->add_node(nid_message_store, bid, m_ndb->write_subnodes(ctx.subnodes), 0);
}

void pst_writer::write_name_map()
{
    std::vector<guid> guids;
    std::vector<std::uint8_t> guid_stream;
    std::vector<std::uint8_t> entries;
    std::vector<std::uint8_t> strings;
    std::vector<std::vector<std::uint8_t>> buckets(bucket_count);
    for (std::size_t i = 0; i < m_named.size(); ++i) {
        const property_key &k = m_named[i].key;
        std::uint16_t guid_index = 0;
        if (k.set == psets::mapi) {
            guid_index = 1;
        } else if (k.set == psets::public_strings) {
            guid_index = 2;
        } else {
            auto it = std::find(guids.begin(), guids.end(), k.set);
            if (it == guids.end()) {
                guids.push_back(k.set);
                guid_stream.insert(guid_stream.end(), k.set.bytes.begin(), k.set.bytes.end());
                it = guids.end() - 1;
            }
            guid_index = static_cast<std::uint16_t>(3 + (it - guids.begin()));
        }
        std::uint16_t guid_field =
            static_cast<std::uint16_t>((guid_index << 1) | (k.is_string ? 1 : 0));
        std::uint32_t id = k.lid;
        std::uint32_t hash_key = k.lid;
        if (k.is_string) {
            id = static_cast<std::uint32_t>(strings.size());
            append(strings, le32(static_cast<std::uint32_t>(k.name.size() * 2)));
            for (char16_t c : k.name) {
                strings.push_back(static_cast<std::uint8_t>(c));
                strings.push_back(static_cast<std::uint8_t>(c >> 8));
            }
            while (strings.size() % 4) {
                strings.push_back(0);
            }
            hash_key = string_crc(k.name);
        }
        std::vector<std::uint8_t> record = le32(id);
        record.push_back(static_cast<std::uint8_t>(guid_field));
        record.push_back(static_cast<std::uint8_t>(guid_field >> 8));
        record.push_back(static_cast<std::uint8_t>(i));
        record.push_back(static_cast<std::uint8_t>(i >> 8));
        append(entries, record);
        std::vector<std::uint8_t> bucket_record = le32(hash_key);
        bucket_record.insert(bucket_record.end(), record.begin() + 4, record.end());
        append(buckets[(hash_key ^ guid_field) % bucket_count], bucket_record);
    }
    std::vector<ltp::value> values;
    values.push_back({tag_nameid_bucket_count, pt_long, le32(bucket_count), {}});
    values.push_back({tag_nameid_stream_guid, pt_binary, guid_stream, {}});
    values.push_back({tag_nameid_stream_entry, pt_binary, entries, {}});
    values.push_back({tag_nameid_stream_string, pt_binary, strings, {}});
    for (std::size_t b = 0; b < bucket_count; ++b) {
        values.push_back(
            {static_cast<std::uint16_t>(tag_nameid_first_bucket + b), pt_binary, buckets[b], {}});
    }
    ltp::node_context ctx(*m_ndb);
    std::uint64_t bid = ltp::write_pc(ctx, values);
    m_ndb->add_node(nid_name_to_id_map, bid, m_ndb->write_subnodes(ctx.subnodes), 0);
}

void pst_writer::write_fixed_nodes()
{
    // Table templates, copied by clients when they make new folders and messages.
    write_table_node(*m_ndb, 0x60D, 0, columns(hierarchy_columns), {});
    write_table_node(*m_ndb, 0x60E, 0, columns(contents_columns), {});
    write_table_node(*m_ndb, 0x60F, 0, columns(assoc_columns), {});
    write_table_node(*m_ndb, 0x610, 0, columns(contents_columns), {});
    write_table_node(*m_ndb, nid_attachment_table, 0, columns(attachment_columns), {});
    write_table_node(*m_ndb, nid_recipient_table, 0, columns(recipient_columns), {});
    // Search management: queue, activity list, domain and gatherer nodes, all empty.
    for (std::uint32_t nid : {0x1E1u, 0x201u, 0x261u, 0x281u, 0x2A1u, 0x321u}) {
        m_ndb->add_node(nid, m_ndb->write_data({}), 0, 0);
    }
}

void pst_writer::finish()
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    for (auto &[nid, f] : m_folders) {
        write_folder(*f);
    }
    write_store();
    write_name_map();
    write_fixed_nodes();
    ndb::header_info info;
    for (std::uint32_t t = 0; t < 32; ++t) {
        std::uint32_t index = 0x400;
        if (t == type_folder || t == type_hierarchy || t == type_contents ||
            t == type_assoc_contents) {
            index = m_next_folder_index;
        } else if (t == type_message || t == type_assoc_message) {
            index = m_next_message_index;
        }
        info.next_nid[t] = (index << 5) | t;
    }
    info.unique = m_next_message_index;
    m_ndb->finish(info);
}

} // namespace korvel::convert
