#include "tests/support/pst_builder.h"

namespace korvel::testing {

namespace {
std::string_view as_chars(std::u8string_view s)
{
    return {reinterpret_cast<const char *>(s.data()), s.size()};
}
} // namespace

pst_folder &pst_folder::add_folder(std::u8string_view name) { return add_folder(as_chars(name)); }

pst_folder &pst_folder::add_folder(std::string_view name)
{
    auto f = std::make_unique<pst_folder>();
    f->m_name = std::string(name);
    f->m_named = true;
    f->m_props.set_unicode(0x3001, name);
    m_children.push_back(std::move(f));
    return *m_children.back();
}

pst_folder &pst_folder::add_unnamed_folder()
{
    m_children.push_back(std::make_unique<pst_folder>());
    return *m_children.back();
}

pst_folder &pst_folder::add_folder_chain(int depth, std::string_view prefix)
{
    pst_folder *f = this;
    for (int i = 1; i <= depth; ++i) {
        f = &f->add_folder(std::string(prefix) + std::to_string(i));
    }
    return *f;
}

convert::message &pst_folder::add_message(std::string_view message_class)
{
    m_messages.emplace_back(message_class);
    return m_messages.back();
}

convert::message &pst_folder::add_associated_message(std::string_view message_class)
{
    m_associated.emplace_back(message_class);
    return m_associated.back();
}

pst_folder *pst_folder::find(std::u8string_view name) { return find(as_chars(name)); }

pst_folder *pst_folder::find(std::string_view name)
{
    for (auto &c : m_children) {
        if (c->m_named && c->m_name == name) {
            return c.get();
        }
    }
    return nullptr;
}

pst_builder::pst_builder(convert::writer_options options) : m_options(std::move(options)) {}

pst_folder &pst_builder::top_of_personal_folders()
{
    if (m_top) {
        return *m_top;
    }
    // The writer makes these folders itself; here they only stand for them.
    auto top = std::make_unique<pst_folder>();
    top->m_name = "Top of Personal Folders";
    top->m_named = true;
    top->m_preset_nid = 1;
    for (const char *name : {"Deleted Items", "Inbox", "Outbox", "Sent Items", "Calendar",
                             "Contacts", "Journal", "Notes", "Tasks", "Drafts", "Junk E-mail"}) {
        auto f = std::make_unique<pst_folder>();
        f->m_name = name;
        f->m_named = true;
        f->m_preset_nid = 1;
        top->m_children.push_back(std::move(f));
    }
    m_root.m_children.push_front(std::move(top));
    m_top = m_root.m_children.front().get();
    return *m_top;
}

void pst_builder::write_folder(convert::pst_writer &w, std::uint32_t nid,
                               const pst_folder &f) const
{
    for (const auto &m : f.m_messages) {
        w.add_message(nid, m);
    }
    for (const auto &m : f.m_associated) {
        w.add_associated_message(nid, m);
    }
    for (const auto &c : f.m_children) {
        std::uint32_t child = 0;
        if (c->m_preset_nid) {
            child = c.get() == m_top ? w.add_top_of_personal_folders()
                                     : w.find_folder(nid, c->m_name);
            if (!c->m_props.items().empty()) {
                w.set_folder_properties(child, c->m_props);
            }
        } else {
            child = w.add_folder(nid, c->m_props);
        }
        write_folder(w, child, *c);
    }
}

void pst_builder::write(const std::string &path) const
{
    convert::pst_writer w(path, m_options);
    if (!m_root.m_props.items().empty()) {
        w.set_folder_properties(convert::pst_writer::root_folder(), m_root.m_props);
    }
    write_folder(w, convert::pst_writer::root_folder(), m_root);
    w.finish();
}

} // namespace korvel::testing
