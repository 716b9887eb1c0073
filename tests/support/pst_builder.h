// Builds a PST mailbox for a test in a few lines, written by our own writer
// (convert/writer/pst_writer.h) and read back through libpff.
//
//   korvel::testing::pst_builder b;
//   auto &inbox = b.root().add_folder(u8"Inbox");
//   auto &m = inbox.add_message("IPM.Note");
//   m.set_unicode(0x0037, u8"Hello");          // PidTagSubject
//   m.set_long(0x0E07, 1);                     // PidTagMessageFlags
//   m.set_unicode(korvel::convert::named(korvel::convert::psets::appointment, 0x8208),
//                 u8"Room 1");                 // PidLidLocation
//   m.add_recipient(1, "Ann", "ann@example.com");
//   m.add_attachment("a.txt", korvel::convert::data_source::from_string("abc"));
//   m.set_body("text"); m.set_html("<p>x</p>"); m.set_rtf("{\\rtf1 x}");
//   b.write(path);                             // throws std::runtime_error on failure
//
// Folders: add_folder(name), add_unnamed_folder(), add_folder_chain(depth, prefix)
// (a path of nested folders, returns the deepest), props() for any folder
// property. b.top_of_personal_folders() adds "Top of Personal Folders" with its
// usual sub-folders (find them with top.find(u8"Inbox")). Messages are
// korvel::convert::message (a property bag with recipients and attachments).
// pst_builder(pst_builder::ansi(1251)) writes the older 32-bit layout with
// 8-bit text in that store code page (see convert::writer_options::ansi).
#pragma once

#include "convert/writer/pst_writer.h"

#include <deque>
#include <memory>
#include <string>
#include <string_view>

namespace korvel::testing {

class pst_folder
{
public:
    // A sub-folder with PidTagDisplayName.
    pst_folder &add_folder(std::u8string_view name);
    pst_folder &add_folder(std::string_view name);
    // A sub-folder with no display name at all.
    pst_folder &add_unnamed_folder();
    // depth nested folders named prefix + "1", prefix + "2", ...; returns the deepest.
    pst_folder &add_folder_chain(int depth, std::string_view prefix = "Level ");
    // A message of the class (PidTagMessageClass), filled in by the caller.
    convert::message &add_message(std::string_view message_class);
    // A folder-associated (hidden) message.
    convert::message &add_associated_message(std::string_view message_class);
    // The folder's own properties (display name, container class ...).
    convert::property_bag &props() { return m_props; }
    // Direct sub-folder by display name, nullptr when none.
    pst_folder *find(std::u8string_view name);
    pst_folder *find(std::string_view name);

private:
    friend class pst_builder;
    std::string m_name;
    bool m_named = false;
    convert::property_bag m_props;
    std::deque<std::unique_ptr<pst_folder>> m_children;
    std::deque<convert::message> m_messages;
    std::deque<convert::message> m_associated;
    std::uint32_t m_preset_nid = 0; // made by the writer itself (usual folders)
};

class pst_builder
{
public:
    explicit pst_builder(convert::writer_options options = {});
    // Options for the 32-bit layout with the store's code page.
    static convert::writer_options ansi(std::uint32_t code_page = 1252)
    {
        convert::writer_options o;
        o.ansi = true;
        o.code_page = code_page;
        return o;
    }
    // The root folder (no display name unless set through props()).
    pst_folder &root() { return m_root; }
    // "Top of Personal Folders" with its usual sub-folders, added on first use.
    pst_folder &top_of_personal_folders();
    // Writes the mailbox; throws std::runtime_error on failure.
    void write(const std::string &path) const;

private:
    void write_folder(convert::pst_writer &w, std::uint32_t nid, const pst_folder &f) const;
    convert::writer_options m_options;
    pst_folder m_root;
    pst_folder *m_top = nullptr;
};

} // namespace korvel::testing
