// What a save writes into. The save walk (convert/save/save.h) reads the scanned
// mailbox through libpff and hands each folder and message to one sink: our
// PST writer, or one of the formats Linux mail programs read. The walk owns
// the order, the counting, Stop, progress and the temporary-name-then-rename
// rule; a sink only writes.
//
// Call order: open, then for each folder begin_folder, its messages (and its
// sub-folders, nested), end_folder; last close (or abandon after a Stop or a
// fatal error). Every call runs on the save worker, under the mailbox lock,
// except prepare_message, which reading threads may call (see there).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <libpff.h>

namespace korvel::convert {

// Output formats, in the order the save dialog offers them.
enum class output_format
{
    pst,  // a new Unicode PST file
    mbox, // a directory of mbox files laid out as local mail folders
    eml,  // a directory per folder, one .eml file per message
};

// Why a call failed.
struct sink_error
{
    // For the user: what could not be written and why ("No space left on
    // device", ...). UTF-8.
    std::string message;
    // True when the output itself cannot go on (disk full, no permission):
    // the walk ends the save. False: only this item is lost; it is counted
    // and named in the report and the walk goes on.
    bool fatal = false;
};

struct sink_folder
{
    // The folder's original names from the first level below the root folder
    // down to this folder (UTF-8, not sanitised). "Recovered Items" is a
    // one-element path.
    std::vector<std::string> path;
    // PidTagContainerClass ("IPF.Note", "IPF.Contact", ...), "" when absent.
    std::string container_class;
    // The folder itself (not owned); nullptr for "Recovered Items".
    libpff_item_t *folder = nullptr;
};

// A message read and made ready away from the output (by a reading thread,
// through a libpff file of its own), written later in the walk's order.
class prepared_message
{
public:
    virtual ~prepared_message() = default;
    // As add_message returns: 1 ready, 0 left out on purpose, -1 failed
    // (error filled; nothing to write).
    int result = 1;
    sink_error error;
    // What take_problems gives after the message is written.
    std::vector<std::string> problems;
    // About how much memory it holds, for the readers' bound.
    std::size_t bytes = 0;
    // It still reads from the reading thread's libpff file when written (a
    // big attachment, streamed): that thread waits until it is destroyed.
    bool borrows_source = false;
};

class mailbox_sink
{
public:
    virtual ~mailbox_sink() = default;

    // Starts the output at temporary_path, which does not exist yet: a file
    // for PST, a directory for the other formats. The walk renames it to the
    // final name after a successful close. Returns 1, or -1 (error filled).
    virtual int open(const std::string &temporary_path, sink_error &error) = 0;

    // Opens a folder below the folder opened last (or at the top).
    virtual int begin_folder(const sink_folder &folder, sink_error &error) = 0;
    virtual int end_folder(sink_error &error) = 0;

    // Writes one message of the folder opened last. associated: it comes from
    // the folder's associated (hidden) contents. Returns 1 written, 0 left out
    // on purpose (a kind this format does not take), -1 failed (error filled).
    virtual int add_message(libpff_item_t *message, bool associated, sink_error &error) = 0;

    // True when the sink takes messages in two steps, prepare_message and
    // write_prepared, so that reading threads can do the first.
    virtual bool prepares_messages() const { return false; }
    // The first step: reads the message and does what needs no output. Runs
    // on any thread, several at once, each with its own libpff file; never
    // touches the output or the sink's state.
    virtual std::unique_ptr<prepared_message> prepare_message(libpff_item_t *message,
                                                              bool associated)
    {
        (void)message;
        (void)associated;
        return nullptr;
    }
    // The second step, on the save's thread, in order: as add_message (the
    // message's problems then come from take_problems).
    virtual int write_prepared(prepared_message &message, bool associated, sink_error &error)
    {
        (void)message;
        (void)associated;
        error = {"this output takes no prepared messages", false};
        return -1;
    }

    // A long write (a big attachment) checks *stop now and then and gives up
    // when it is set: add_message then returns -1. Not owned.
    virtual void set_stop_flag(const std::atomic<bool> *stop) { (void)stop; }

    // How many threads the save may use (at least 1); a sink may put its
    // output on a thread of its own when given more than one. Before open.
    virtual void set_threads(unsigned threads) { (void)threads; }

    // Parts of the message added last that could not be read (a recipient,
    // an attachment, a property), one line each ("attachment 2: ..."); the
    // message itself was written. Empties the list.
    virtual std::vector<std::string> take_problems() { return {}; }

    // Completes the output. Returns 1, or -1 (error filled).
    virtual int close(sink_error &error) = 0;
    // Gives up: removes whatever was written under the temporary path.
    virtual void abandon() = 0;
};

// The sink for a format; never nullptr.
std::unique_ptr<mailbox_sink> make_sink(output_format format);

} // namespace korvel::convert
