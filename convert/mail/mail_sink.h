// The sinks for the formats Linux mail programs read (mailbox_sink.h). The
// output directory holds two trees: "Mail", the mail alone, and "Contacts and
// Calendars" beside it (made when there is any), so that a mail client given
// "Mail" as its local folders finds nothing there but mail folders.
//
//  - mbox: "Mail" laid out as a mail client's local folders: one mbox file
//    per folder, named after it, its sub-folders in "<name>.sbd/"; messages
//    separated by "From " lines, body lines quoted the mboxrd way.
//  - EML: a directory per folder (sub-folders inside it), one "<subject>.eml"
//    per message, created exclusively (never over an existing file).
//
// Search folders are left out, and so are folders outside "Top of Personal
// Folders" (the store's system folders) that have no mail in or below them;
// every folder of the user's own is made, empty or not.
//
// Mail items (item_family::mail) become MIME messages (mime_message.h);
// contacts and distribution lists go to one "<name>.vcf" (vCard 3.0) and
// appointments and tasks to one "<name>.ics" (one VCALENDAR) in "Contacts and
// Calendars", in directories named as the folders above them are, made on
// the first such item; associated items and the other kinds are left out
// (0). Names are the folders' original names made safe for the file system
// and unique among their siblings.
//
// A message written without one of its parts (an attachment whose data could
// not be read is replaced by a note) still answers 1; take_problems() then
// names what was lost, for the report.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <libpff.h>

#include "convert/pim/icalendar.h"
#include "convert/save/mailbox_sink.h"
#include "convert/mail/mime_streams.h"

namespace korvel::convert {

class mime_message;

std::unique_ptr<mailbox_sink> make_mbox_sink();
std::unique_ptr<mailbox_sink> make_eml_sink();

// What the mbox and EML sinks share: the two trees, the folder levels and
// their names, the contacts and calendars, and writing one message with the
// retries that leave out an unreadable attachment. A format says how a
// folder is made on disk, where its sub-folders go and how its mail is
// stored.
class mail_sink : public mailbox_sink
{
public:
    ~mail_sink() override;

    int open(const std::string &temporary_path, sink_error &error) override;
    // The folder's file (mbox) or directory (EML) is made when the first
    // message goes into it or below it; at once for the user's own folders.
    int begin_folder(const sink_folder &folder, sink_error &error) override;
    int end_folder(sink_error &error) override;
    int add_message(libpff_item_t *message, bool associated, sink_error &error) override;
    // A reading thread makes a mail item's whole output (the message, and
    // the mbox separator) in memory, or a contact's vCard; the save's thread
    // only writes it. A message whose bodies and attachments are big is
    // built there but streamed from the reading thread's file when written,
    // and so is a calendar item (the time zones its .ics defined so far are
    // the folder's state).
    bool prepares_messages() const override { return true; }
    std::unique_ptr<prepared_message> prepare_message(libpff_item_t *message,
                                                      bool associated) override;
    int write_prepared(prepared_message &message, bool associated, sink_error &error) override;
    void set_stop_flag(const std::atomic<bool> *stop) override { m_stop = stop; }
    std::vector<std::string> take_problems() override;
    int close(sink_error &error) override;
    void abandon() override;

protected:
    struct level
    {
        std::string original;
        std::string name;
        // A search folder or one below it: nothing of it is written.
        bool left_out = false;
        // The folder's file or directory exists.
        bool made = false;
        // Its directory in the contacts-and-calendars tree, once one is made.
        int pim_children_fd = -1;
        // mbox: the folder's file and the directory holding it; the ".sbd"
        // directory for sub-folders once one exists. EML: the folder's directory.
        int file_fd = -1;
        int parent_fd = -1; // not owned
        int children_fd = -1;
        int dir_fd = -1;
        std::unique_ptr<fd_writer> writer;
        // "<name>.vcf" and "<name>.ics" beside the folder, made on first use.
        int vcf_fd = -1;
        int ics_fd = -1;
        std::unique_ptr<fd_writer> vcf;
        std::unique_ptr<fd_writer> ics;
        // The time zones the .ics has defined so far.
        ical_stream calendar;
        // Names taken among the sub-folders (lower case).
        std::set<std::string> names;

        void close();
    };

    // A mail item's MIME form, built again without an attachment whose data
    // cannot be read.
    struct mail_build
    {
        std::unique_ptr<mime_message> message;
        std::set<int> left_out;
        std::vector<std::string> problems;
    };

    // An item read and made ready to write.
    struct prepared_item : prepared_message
    {
        enum class kind
        {
            mail,     // output holds it, or build the message to stream
            contact,  // output holds its vCard
            calendar, // written from item
        };
        kind what = kind::mail;
        std::vector<char> output;
        mail_build build;
        // The file name a message's own file starts from (EML).
        std::string file_base;
        // The source item, for what is written straight from it (not owned).
        libpff_item_t *item = nullptr;
    };

    static int fail(sink_error &error, std::string message, bool fatal = true);

    // Makes level l's file or directory in container. 1, or -1 (error filled).
    virtual int make_folder(level &l, int container, sink_error &error) = 0;
    // The directory that holds the sub-folders of a level already made; -1
    // (error filled) on failure.
    virtual int children_directory(level &parent, sink_error &error) = 0;
    // Writes one mail item into the folder opened last (made already): its
    // bytes, or its build streamed through write_message.
    virtual int add_mail(prepared_item &mail, level &l, sink_error &error) = 0;
    // The start of a message's own file name, read from the message ("" when
    // the format keeps messages in one file).
    virtual std::string mail_file_base(libpff_item_t *message) const;
    // True when message lines are quoted the mboxrd way.
    virtual bool quotes_from_lines() const { return false; }
    // Ends the folder's own file before it is closed. 1, or -1 (error filled).
    virtual int finish_folder(level &l, sink_error &error);
    // What comes before and after each message in the writer (the mbox
    // separator); false when the writer failed.
    virtual bool write_before(const mime_message &m, fd_writer &writer) const;
    virtual bool write_after(fd_writer &writer) const;

    // Writes the message (built already, or built here) through the writer,
    // leaving out attachments whose data cannot be read; problems receives
    // what was lost. 1 written, -1 failed (error filled).
    int write_message(libpff_item_t *message, mail_build &build, fd_writer &writer,
                      std::vector<std::string> &problems, sink_error &error) const;
    // Writes a mail item through the writer: its output, or its build
    // streamed. 1, or -1 (error filled).
    int put_mail(prepared_item &mail, fd_writer &writer, sink_error &error);

private:
    void close_all();
    int make_level(std::size_t i, sink_error &error);
    int pim_directory_fd(std::size_t i, sink_error &error);
    int container_fd(std::size_t i, sink_error &error);
    int open_beside(level &l, const char *suffix, int &fd, std::unique_ptr<fd_writer> &writer,
                    sink_error &error);
    // Reads an item on any thread; whole: a mail item's output made in
    // memory unless it is big.
    std::unique_ptr<prepared_item> read_item(libpff_item_t *message, bool whole) const;
    int build_mail(libpff_item_t *message, mail_build &build) const;
    // Writes what read_item made into the folder opened last.
    int write_item(prepared_item &item, sink_error &error);
    int add_contact(const std::vector<char> &card, sink_error &error);
    int add_calendar_item(libpff_item_t *message, sink_error &error);

    std::string m_path;
    // The output directory, its mail tree and its contacts-and-calendars tree.
    int m_top_fd = -1;
    int m_root_fd = -1;
    int m_pim_fd = -1;
    std::set<std::string> m_root_names;
    std::vector<level> m_levels;
    // Parts of the message written last that were lost.
    std::vector<std::string> m_problems;
    const std::atomic<bool> *m_stop = nullptr;
};

} // namespace korvel::convert
