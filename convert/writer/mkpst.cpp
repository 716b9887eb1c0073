#include "convert/writer/mkpst.h"

#include "convert/writer/pst_writer.h"
#include "scan/names.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel::convert {

namespace {

using json = nlohmann::json;

[[noreturn]] void fail(const std::string &where, const std::string &what)
{
    throw description_error(where + ": " + what);
}

const json &member(const json &obj, const char *key, const std::string &where)
{
    if (!obj.is_object() || !obj.contains(key)) {
        fail(where, std::string("missing \"") + key + "\"");
    }
    return obj.at(key);
}

const json &expect_array(const json &list, const std::string &where)
{
    if (!list.is_array()) {
        fail(where, "expected an array");
    }
    return list;
}

// The array obj holds under key, or nullptr when it has none.
const json *optional_array(const json &obj, const char *key, const std::string &where)
{
    if (!obj.contains(key)) {
        return nullptr;
    }
    return &expect_array(obj.at(key), where + "." + key);
}

std::string text_of(const json &v, const std::string &where)
{
    if (!v.is_string()) {
        fail(where, "expected a string");
    }
    return v.get<std::string>();
}

std::int64_t integer_of(const json &v, const std::string &where, std::int64_t lo, std::int64_t hi)
{
    std::int64_t x = 0;
    if (v.is_number_integer()) {
        x = v.is_number_unsigned() && v.get<std::uint64_t>() > std::uint64_t(INT64_MAX)
                ? INT64_MAX
                : v.get<std::int64_t>();
    } else if (v.is_string()) {
        std::string s = v.get<std::string>();
        errno = 0;
        char *end = nullptr;
        long long parsed = std::strtoll(s.c_str(), &end, 0);
        if (s.empty() || *end != '\0' || errno != 0) {
            fail(where, "not a number: \"" + s + "\"");
        }
        x = parsed;
    } else {
        fail(where, "expected an integer");
    }
    if (x < lo || x > hi) {
        fail(where, "value " + std::to_string(x) + " does not fit (" + std::to_string(lo) +
                        " to " + std::to_string(hi) + ")");
    }
    return x;
}

std::uint64_t unsigned_of(const json &v, const std::string &where, std::uint64_t hi)
{
    if (v.is_number_unsigned()) {
        std::uint64_t x = v.get<std::uint64_t>();
        if (x > hi) {
            fail(where, "value too large");
        }
        return x;
    }
    return static_cast<std::uint64_t>(
        integer_of(v, where, 0, static_cast<std::int64_t>(std::min<std::uint64_t>(hi, INT64_MAX))));
}

std::vector<std::uint8_t> hex_of(const json &v, const std::string &where)
{
    std::string s = text_of(v, where);
    std::string digits;
    for (char c : s) {
        if (c != ' ') {
            digits.push_back(c);
        }
    }
    if (digits.size() % 2) {
        fail(where, "odd number of hex digits");
    }
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char pair[3] = {digits[i], digits[i + 1], 0};
        char *end = nullptr;
        long b = std::strtol(pair, &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            fail(where, "not hex: \"" + s + "\"");
        }
        out.push_back(static_cast<std::uint8_t>(b));
    }
    return out;
}

std::vector<std::uint8_t> bytes_of(const json &prop, const std::string &where)
{
    if (prop.contains("hex")) {
        return hex_of(prop.at("hex"), where + ".hex");
    }
    std::string s = text_of(member(prop, "value", where), where + ".value");
    return {s.begin(), s.end()};
}

guid set_of(const json &v, const std::string &where)
{
    static const std::map<std::string, const guid *> names = {
        {"PS_MAPI", &psets::mapi},
        {"PS_PUBLIC_STRINGS", &psets::public_strings},
        {"PSETID_Common", &psets::common},
        {"PSETID_Address", &psets::address},
        {"PSETID_Appointment", &psets::appointment},
        {"PSETID_Task", &psets::task},
        {"PSETID_Log", &psets::log},
        {"PSETID_Note", &psets::note},
        {"PS_INTERNET_HEADERS", &psets::internet_headers}};
    std::string s = text_of(v, where);
    auto it = names.find(s);
    if (it != names.end()) {
        return *it->second;
    }
    try {
        return guid::parse(s);
    } catch (const std::exception &) {
        fail(where, "unknown property set \"" + s + "\"");
    }
}

std::uint64_t time_of(const json &v, const std::string &where)
{
    if (v.is_number()) {
        return unsigned_of(v, where, UINT64_MAX);
    }
    std::string s = text_of(v, where);
    std::tm tm{};
    int year = 0, mon = 0, day = 0, hour = 0, min = 0, sec = 0;
    char z = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &mon, &day, &hour, &min, &sec,
                    &z) != 7 ||
        z != 'Z' || mon < 1 || mon > 12 || day < 1 || day > 31 || hour > 23 || min > 59 ||
        sec > 60 || year < 1601) {
        fail(where, "expected a FILETIME number or \"YYYY-MM-DDThh:mm:ssZ\", got \"" + s + "\"");
    }
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    return filetime_from_unix(static_cast<std::int64_t>(timegm(&tm)));
}

double double_of(const json &v, const std::string &where)
{
    if (!v.is_number()) {
        fail(where, "expected a number");
    }
    return v.get<double>();
}

const json &array_of(const json &prop, const std::string &where)
{
    return expect_array(member(prop, "value", where), where + ".value");
}

// The property's key: a tag, or a named property by set and name or id.
property_key key_of(const json &prop, const std::string &where)
{
    if (!prop.contains("named")) {
        return property_key(static_cast<std::uint16_t>(
            integer_of(member(prop, "tag", where), where + ".tag", 0x0001, 0x7FFF)));
    }
    const json &n = prop.at("named");
    guid set = set_of(member(n, "set", where + ".named"), where + ".named.set");
    if (n.contains("name")) {
        return property_key(set, utf8_to_utf16(text_of(n.at("name"), where + ".named.name")));
    }
    return property_key(set,
                        static_cast<std::uint32_t>(unsigned_of(member(n, "id", where + ".named"),
                                                               where + ".named.id", 0xFFFFFFFFu)));
}

// The items of a multi-valued "value", each read by read(item, where).
template <class T, class Read>
std::vector<T> list_of(const json &prop, const std::string &where, Read read)
{
    const json &values = array_of(prop, where);
    std::vector<T> v;
    for (std::size_t i = 0; i < values.size(); ++i) {
        v.push_back(read(values[i], where + ".value[" + std::to_string(i) + "]"));
    }
    return v;
}

// A multi-valued type; false when type is none of them.
bool set_multi_valued(property_bag &bag, const property_key &key, const std::string &type,
                      const json &prop, const std::string &where)
{
    if (type == "PT_MV_LONG") {
        bag.set_mv_long(
            key, list_of<std::int32_t>(prop, where, [](const json &v, const std::string &w) {
                return static_cast<std::int32_t>(integer_of(v, w, INT32_MIN, UINT32_MAX));
            }));
    } else if (type == "PT_MV_SHORT") {
        bag.set_mv_short(
            key, list_of<std::int16_t>(prop, where, [](const json &v, const std::string &w) {
                return static_cast<std::int16_t>(integer_of(v, w, INT16_MIN, INT16_MAX));
            }));
    } else if (type == "PT_MV_I8") {
        bag.set_mv_i8(key,
                      list_of<std::int64_t>(prop, where, [](const json &v, const std::string &w) {
                          return integer_of(v, w, INT64_MIN, INT64_MAX);
                      }));
    } else if (type == "PT_MV_DOUBLE") {
        bag.set_mv_double(key, list_of<double>(prop, where, double_of));
    } else if (type == "PT_MV_SYSTIME") {
        bag.set_mv_systime(key, list_of<std::uint64_t>(prop, where, time_of));
    } else if (type == "PT_MV_CLSID") {
        bag.set_mv_guid(key, list_of<guid>(prop, where, set_of));
    } else if (type == "PT_MV_UNICODE") {
        bag.set_mv_unicode(key, list_of<std::string>(prop, where, text_of));
    } else if (type == "PT_MV_STRING8") {
        bag.set_mv_string8(key, list_of<std::string>(prop, where, text_of));
    } else if (type == "PT_MV_BINARY") {
        bag.set_mv_binary(key, list_of<std::vector<std::uint8_t>>(prop, where, hex_of));
    } else {
        return false;
    }
    return true;
}

void set_property(property_bag &bag, const json &prop, const std::string &where)
{
    if (!prop.is_object()) {
        fail(where, "expected an object");
    }
    const property_key key = key_of(prop, where);
    std::string type = text_of(member(prop, "type", where), where + ".type");
    std::string vw = where + ".value";
    auto val = [&]() -> const json & { return member(prop, "value", where); };
    if (type == "PT_SHORT") {
        bag.set_short(key, static_cast<std::int16_t>(integer_of(val(), vw, INT16_MIN, INT16_MAX)));
    } else if (type == "PT_LONG") {
        bag.set_long(key, static_cast<std::int32_t>(integer_of(val(), vw, INT32_MIN, UINT32_MAX)));
    } else if (type == "PT_ERROR") {
        bag.set_error(key, static_cast<std::uint32_t>(unsigned_of(val(), vw, UINT32_MAX)));
    } else if (type == "PT_BOOLEAN") {
        if (!val().is_boolean()) {
            fail(vw, "expected true or false");
        }
        bag.set_boolean(key, val().get<bool>());
    } else if (type == "PT_FLOAT") {
        bag.set_float(key, static_cast<float>(double_of(val(), vw)));
    } else if (type == "PT_DOUBLE") {
        bag.set_double(key, double_of(val(), vw));
    } else if (type == "PT_I8") {
        bag.set_i8(key, integer_of(val(), vw, INT64_MIN, INT64_MAX));
    } else if (type == "PT_CURRENCY") {
        bag.set_currency(key, integer_of(val(), vw, INT64_MIN, INT64_MAX));
    } else if (type == "PT_SYSTIME") {
        bag.set_systime(key, time_of(val(), vw));
    } else if (type == "PT_UNICODE") {
        bag.set_unicode(key, text_of(val(), vw));
    } else if (type == "PT_STRING8") {
        std::vector<std::uint8_t> b = bytes_of(prop, where);
        bag.set_string8(key, std::string(b.begin(), b.end()));
    } else if (type == "PT_BINARY") {
        bag.set_binary(key, bytes_of(prop, where));
    } else if (type == "PT_CLSID") {
        bag.set_guid(key, set_of(val(), vw));
    } else if (!set_multi_valued(bag, key, type, prop, where)) {
        fail(where + ".type", "unknown type \"" + type + "\"");
    }
}

void set_properties(property_bag &bag, const json &obj, const std::string &where)
{
    const json *props = optional_array(obj, "properties", where);
    if (!props) {
        return;
    }
    for (std::size_t i = 0; i < props->size(); ++i) {
        set_property(bag, (*props)[i], where + ".properties[" + std::to_string(i) + "]");
    }
}

void check_keys(const json &obj, std::initializer_list<const char *> known, const std::string &where)
{
    if (!obj.is_object()) {
        fail(where, "expected an object");
    }
    for (const auto &[k, v] : obj.items()) {
        bool ok = false;
        for (const char *name : known) {
            ok = ok || k == name;
        }
        if (!ok) {
            fail(where, "unknown key \"" + k + "\"");
        }
    }
}

struct context
{
    std::string base_dir;
};

message build_message(const json &j, const std::string &where, const context &ctx, int depth);

void add_attachments(message &m, const json &j, const std::string &where, const context &ctx,
                     int depth)
{
    const json *attachments = optional_array(j, "attachments", where);
    if (!attachments) {
        return;
    }
    const json &list = *attachments;
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string w = where + ".attachments[" + std::to_string(i) + "]";
        const json &a = list[i];
        check_keys(a, {"filename", "data", "hex", "file", "pattern", "embedded", "reference",
                       "properties"},
                   w);
        std::string name = a.contains("filename") ? text_of(a.at("filename"), w + ".filename") : "";
        attachment *made = nullptr;
        if (a.contains("embedded")) {
            if (depth > 32) {
                fail(w, "embedded messages nested too deeply");
            }
            message inner = build_message(a.at("embedded"), w + ".embedded", ctx, depth + 1);
            m.add_embedded(name, "IPM.Note") = std::move(inner);
            made = &m.attachments.back();
        } else if (a.contains("reference")) {
            made = &m.add_reference(name, text_of(a.at("reference"), w + ".reference"));
        } else {
            data_source d;
            if (a.contains("data")) {
                d = data_source::from_string(text_of(a.at("data"), w + ".data"));
            } else if (a.contains("hex")) {
                d = data_source::from_bytes(hex_of(a.at("hex"), w + ".hex"));
            } else if (a.contains("file")) {
                std::filesystem::path p = text_of(a.at("file"), w + ".file");
                if (p.is_relative() && !ctx.base_dir.empty()) {
                    p = std::filesystem::path(ctx.base_dir) / p;
                }
                try {
                    d = data_source::from_file(p.string());
                } catch (const std::exception &e) {
                    fail(w + ".file", e.what());
                }
            } else if (a.contains("pattern")) {
                const json &pj = a.at("pattern");
                d = data_source::pattern(
                    unsigned_of(member(pj, "size", w + ".pattern"), w + ".pattern.size",
                                0xFFFFFFFFu - 1),
                    static_cast<std::uint32_t>(
                        pj.contains("seed") ? unsigned_of(pj.at("seed"), w + ".pattern.seed",
                                                          0xFFFFFFFFu)
                                            : 1));
            } else {
                fail(w, "needs one of \"data\", \"hex\", \"file\", \"pattern\", \"embedded\", "
                        "\"reference\"");
            }
            made = &m.add_attachment(name, std::move(d));
        }
        set_properties(*made, a, w);
    }
}

message build_message(const json &j, const std::string &where, const context &ctx, int depth)
{
    check_keys(j,
               {"class", "subject", "body", "html", "rtf", "rtf_uncompressed", "properties",
                "recipients", "attachments", "repeat"},
               where);
    message m(j.contains("class") ? text_of(j.at("class"), where + ".class") : "IPM.Note");
    if (j.contains("subject")) {
        m.set_unicode(0x0037, text_of(j.at("subject"), where + ".subject"));
    }
    if (j.contains("body")) {
        m.set_body(text_of(j.at("body"), where + ".body"));
    }
    if (j.contains("html")) {
        m.set_html(text_of(j.at("html"), where + ".html"));
    }
    if (j.contains("rtf")) {
        m.set_rtf(text_of(j.at("rtf"), where + ".rtf"));
    }
    if (j.contains("rtf_uncompressed")) {
        m.set_rtf(text_of(j.at("rtf_uncompressed"), where + ".rtf_uncompressed"), false);
    }
    set_properties(m, j, where);
    if (const json *recipients = optional_array(j, "recipients", where)) {
        const json &list = *recipients;
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string w = where + ".recipients[" + std::to_string(i) + "]";
            check_keys(list[i], {"type", "name", "email", "properties"}, w);
            property_bag &r = m.add_recipient(
                list[i].contains("type")
                    ? static_cast<std::int32_t>(integer_of(list[i].at("type"), w + ".type", 0, 3))
                    : 1,
                text_of(member(list[i], "name", w), w + ".name"),
                list[i].contains("email") ? text_of(list[i].at("email"), w + ".email") : "");
            set_properties(r, list[i], w);
        }
    }
    add_attachments(m, j, where, ctx, depth);
    return m;
}

// Subject with "{n}" replaced by the copy number.
void number_copy(message &m, const message &proto, std::uint64_t n)
{
    m = proto;
    const property *subject = proto.find(0x0037);
    if (!subject || subject->type != pt_unicode) {
        return;
    }
    std::u16string s;
    for (std::size_t i = 0; i + 1 < subject->value.size(); i += 2) {
        s.push_back(static_cast<char16_t>(subject->value[i] | (subject->value[i + 1] << 8)));
    }
    std::u16string mark = u"{n}";
    std::u16string num = utf8_to_utf16(std::to_string(n));
    for (std::size_t at = s.find(mark); at != std::u16string::npos; at = s.find(mark, at)) {
        s.replace(at, mark.size(), num);
        at += num.size();
    }
    m.set_unicode(0x0037, std::u16string_view(s));
}

void write_messages(pst_writer &w, std::uint32_t folder, const json &list, bool associated,
                    const std::string &where, const context &ctx)
{
    expect_array(list, where);
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string mw = where + "[" + std::to_string(i) + "]";
        message proto = build_message(list[i], mw, ctx, 0);
        std::uint64_t repeat = list[i].contains("repeat")
                                   ? unsigned_of(list[i].at("repeat"), mw + ".repeat", 100000000)
                                   : 1;
        message copy;
        for (std::uint64_t n = 1; n <= repeat; ++n) {
            number_copy(copy, proto, n);
            associated ? w.add_associated_message(folder, copy) : w.add_message(folder, copy);
        }
    }
}

void write_folder_contents(pst_writer &w, std::uint32_t nid, const json &j,
                           const std::string &where, const context &ctx, int depth);

void write_tree(pst_writer &w, std::uint32_t parent, const json &t, const std::string &where,
                const context &ctx, int level, const std::string &label)
{
    std::uint64_t depth = unsigned_of(member(t, "depth", where), where + ".depth", 1000);
    std::uint64_t fanout = unsigned_of(member(t, "fanout", where), where + ".fanout", 100000);
    if (static_cast<std::uint64_t>(level) >= depth) {
        return;
    }
    std::string prefix = t.contains("name") ? text_of(t.at("name"), where + ".name") : "Folder ";
    for (std::uint64_t i = 1; i <= fanout; ++i) {
        std::string name = prefix + label + std::to_string(i);
        property_bag props;
        props.set_unicode(tag_display_name, name);
        std::uint32_t nid = w.add_folder(parent, props);
        if (t.contains("messages")) {
            write_messages(w, nid, t.at("messages"), false, where + ".messages", ctx);
        }
        write_tree(w, nid, t, where, ctx, level + 1, label + std::to_string(i) + ".");
    }
}

void write_folders(pst_writer &w, std::uint32_t parent, const json &list, const std::string &where,
                   const context &ctx, int depth)
{
    expect_array(list, where);
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string fw = where + "[" + std::to_string(i) + "]";
        const json &fj = list[i];
        check_keys(fj, {"name", "properties", "folders", "messages", "associated", "tree"}, fw);
        std::uint32_t nid = 0;
        if (fj.contains("name") && !fj.at("name").is_null()) {
            std::string name = text_of(fj.at("name"), fw + ".name");
            nid = w.find_folder(parent, name);
            property_bag props;
            props.set_unicode(tag_display_name, name);
            set_properties(props, fj, fw);
            if (nid) {
                w.set_folder_properties(nid, props);
            } else {
                nid = w.add_folder(parent, props);
            }
        } else {
            property_bag props;
            set_properties(props, fj, fw);
            nid = w.add_folder(parent, props);
        }
        write_folder_contents(w, nid, fj, fw, ctx, depth + 1);
    }
}

void write_folder_contents(pst_writer &w, std::uint32_t nid, const json &j,
                           const std::string &where, const context &ctx, int depth)
{
    if (depth > 10000) {
        fail(where, "folders nested too deeply");
    }
    if (j.contains("messages")) {
        write_messages(w, nid, j.at("messages"), false, where + ".messages", ctx);
    }
    if (j.contains("associated")) {
        write_messages(w, nid, j.at("associated"), true, where + ".associated", ctx);
    }
    if (j.contains("folders")) {
        write_folders(w, nid, j.at("folders"), where + ".folders", ctx, depth);
    }
    if (j.contains("tree")) {
        write_tree(w, nid, j.at("tree"), where + ".tree", ctx, 0, "");
    }
}

// The writer's options from the description's top level; top says whether
// it asks for "Top of Personal Folders".
writer_options options_of(const json &doc, bool &top)
{
    writer_options options;
    if (doc.contains("store_name")) {
        options.store_name = text_of(doc.at("store_name"), "store_name");
    }
    if (doc.contains("encoding")) {
        std::string e = text_of(doc.at("encoding"), "encoding");
        if (e != "permute" && e != "none") {
            fail("encoding", "expected \"permute\" or \"none\", got \"" + e + "\"");
        }
        options.permute = e == "permute";
    }
    if (doc.contains("format")) {
        std::string f = text_of(doc.at("format"), "format");
        if (f != "unicode" && f != "ansi") {
            fail("format", "expected \"unicode\" or \"ansi\", got \"" + f + "\"");
        }
        options.ansi = f == "ansi";
    }
    if (doc.contains("code_page")) {
        options.code_page =
            static_cast<std::uint32_t>(integer_of(doc.at("code_page"), "code_page", 1, 65535));
    }
    top = false;
    if (doc.contains("top_of_personal_folders")) {
        if (!doc.at("top_of_personal_folders").is_boolean()) {
            fail("top_of_personal_folders", "expected true or false");
        }
        top = doc.at("top_of_personal_folders").get<bool>();
    }
    if (doc.contains("top") && !top) {
        fail("top", "needs \"top_of_personal_folders\": true");
    }

    return options;
}

// An empty file beside out_path under a hidden temporary name, for the
// description to be written into and renamed when complete.
std::string hidden_temp_beside(const std::string &out_path)
{
    std::filesystem::path out(out_path);
    std::filesystem::path dir = out.has_parent_path() ? out.parent_path() : ".";
    // Appended in place: "." + a string trips g++ 12's -O3 -Wrestrict check.
    std::string hidden_name(".");
    hidden_name += out.filename().string();
    hidden_name += ".XXXXXX";
    std::string pattern = (dir / hidden_name).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        throw std::runtime_error("cannot create a file beside " + out_path + ": " +
                                 std::strerror(errno));
    }
    ::fchmod(fd, 0644);
    ::close(fd);
    std::string temp(name.data());
    return temp;
}

} // namespace

void make_pst(const std::string &json_text, const std::string &out_path,
              const std::string &base_dir)
{
    json doc;
    try {
        doc = json::parse(json_text);
    } catch (const json::parse_error &e) {
        throw description_error(std::string("malformed JSON: ") + e.what());
    }
    check_keys(doc,
               {"store_name", "encoding", "format", "code_page", "top_of_personal_folders", "root",
                "folders", "top"},
               "(top level)");
    bool top = false;
    const writer_options options = options_of(doc, top);
    const std::string temp = hidden_temp_beside(out_path);
    try {
        context ctx{base_dir};
        pst_writer w(temp, options);
        if (top) {
            std::uint32_t t = w.add_top_of_personal_folders();
            if (doc.contains("top")) {
                write_folder_contents(w, t, doc.at("top"), "top", ctx, 0);
            }
        }
        if (doc.contains("root")) {
            write_folder_contents(w, pst_writer::root_folder(), doc.at("root"), "root", ctx, 0);
        }
        if (doc.contains("folders")) {
            write_folders(w, pst_writer::root_folder(), doc.at("folders"), "folders", ctx, 0);
        }
        w.finish();
        if (std::rename(temp.c_str(), out_path.c_str()) != 0) {
            throw std::runtime_error("cannot rename into " + out_path + ": " +
                                     std::strerror(errno));
        }
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
}

} // namespace korvel::convert
