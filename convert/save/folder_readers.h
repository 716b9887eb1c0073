// Reading threads for the save. Each opens the mailbox again (libpff is not
// safe across threads, so one libpff file per thread; the source is only
// read) and walks the folders of the save's order, every thread every folder,
// each fetching and preparing only its own share of the messages through the
// sink (mailbox_sink::prepare_message): runs of run_length messages, each
// taken by the first thread to reach it, so that a thread that got less of
// the cores (one shares its core with the free-space search) takes fewer runs
// instead of holding up the end of the save.
// Each closes its file itself once nothing it made is left to write. The
// save's own thread takes the messages back in walk order and writes them,
// so the output and the report come out as from one thread.
//
// Memory is bounded: each thread's queue holds at most queue_limit bytes
// (one message more when empty), and a message bigger than the sink reads
// whole is streamed from its thread's file while that thread waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <libbfio.h>
#include <libpff.h>

#include "convert/save/mailbox_sink.h"

namespace korvel::convert {

// The messages of a folder (associated false: its contents, in contents
// table order or, when that table cannot be read, node index order; true: its
// hidden contents); a message libpff cannot fetch is handed to unreadable.
// Returns 1 all offered, 0 visit returned 0, -1 the folder's messages cannot
// be counted. *from_node_index tells which order the contents came in.
// wanted (when not empty) takes the share of the walk offered, by place
// (export_handle_walk_sub_messages); a hidden item not wanted is not fetched.
int walk_folder_contents(libpff_item_t *folder, bool associated,
                         const std::function<int(libpff_item_t *, int)> &visit,
                         const std::function<void(int)> &unreadable, bool *from_node_index,
                         const std::function<bool(int)> &wanted = {});

// One step of a folder's walk, as a reading thread met it.
struct read_ahead_entry
{
    enum class kind
    {
        folder,  // a folder begins: available tells whether the thread found it
        message, // prepared holds it
        lost,    // libpff could not fetch message index
        walked,  // one walk (contents, or hidden contents) ends: walk_result
    };
    kind what = kind::message;
    // The folder's place in the save's order.
    std::size_t position = 0;
    bool available = true;
    bool associated = false;
    int index = 0;
    std::uint32_t identifier = 0;
    std::unique_ptr<prepared_message> prepared;
    int walk_result = 1;
    bool from_node_index = false;
    std::size_t bytes = 0;
    // Set (under the readers' lock) once the entry is done with, for a
    // reading thread waiting on a message that borrows its file.
    bool *released = nullptr;
};

class folder_readers
{
public:
    // Starts threads reading threads on the mailbox at path (UTF-8) for the
    // folders by identifier, in the save's order. stop ends them. The last
    // of them to close trims the malloc arenas when trim_wanted (empty:
    // always) says so then; it is asked on that thread.
    folder_readers(const std::string &path, std::vector<std::uint32_t> folders, unsigned threads,
                   mailbox_sink &sink, const std::atomic<bool> &stop,
                   std::function<bool()> trim_wanted = {});
    // Ends and joins the threads (each closes its own file).
    ~folder_readers();
    folder_readers(const folder_readers &) = delete;
    folder_readers &operator=(const folder_readers &) = delete;

    // Moves on to the folder with this identifier (later in the order than
    // the one before). False when the readers do not have it (not in the
    // order, or their files cannot find it): the caller reads it itself.
    bool begin(std::uint32_t identifier);
    // The next step of that folder, waiting for it: its contents, a walked
    // entry, its hidden contents, a walked entry. nullptr after a Stop.
    // Valid until the next call.
    read_ahead_entry *next();

    static constexpr std::size_t queue_limit = 4u << 20;
    static constexpr int run_length = 8;

private:
    struct reader
    {
        std::size_t number = 0;
        libpff_file_t *file = nullptr;
        libbfio_handle_t *io = nullptr;
        std::deque<read_ahead_entry> queue;
        std::size_t bytes = 0;
        std::thread thread;
    };

    void run(reader &self);
    // Closes the thread's file once no entry it made is held any more (its
    // prepared messages may hold its libpff items), or the readers close.
    void close_when_done(reader &self);
    // Walks one folder's contents or hidden contents; false after a Stop.
    bool read_walk(reader &self, libpff_item_t *folder, std::size_t position, bool associated);
    // Queues an entry, waking the save's thread when wake; false after a Stop.
    bool push(reader &self, read_ahead_entry entry, bool wake);
    // Whether self takes run run of the walk (position, associated): true
    // when no thread took it before. Runs are asked for in order.
    bool claim(const reader &self, std::size_t position, bool associated, std::size_t run);
    // The front of a reader's queue, waiting for it; nullptr after a Stop.
    read_ahead_entry *front(std::unique_lock<std::mutex> &lock, reader &r);
    void pop(reader &r);
    void release_current();
    bool stopping() const { return m_stop.load() || m_closing.load(); }

    std::string m_path;
    std::vector<std::uint32_t> m_folders;
    mailbox_sink &m_sink;
    const std::atomic<bool> &m_stop;
    std::atomic<bool> m_closing{false};
    std::function<bool()> m_trim_wanted;
    // Reading threads that closed their files.
    std::atomic<std::size_t> m_closed{0};

    std::mutex m_mutex;
    // The save's thread waits on m_ready for entries; a reading thread is
    // woken on m_room when its queue has room, its message was let go, or
    // the readers close. A reading thread wakes the save's thread once per
    // run (and before it waits itself), not once per message: each wake-up
    // is a switch of threads, which took more time than writing the message.
    std::condition_variable m_ready;
    std::condition_variable m_room;
    // The folder being written: its place in the order, and where its walk is.
    std::size_t m_position = 0;
    bool m_started = false;
    bool m_associated = false;
    std::size_t m_sequence = 0;
    std::unique_ptr<read_ahead_entry> m_current;
    // Which thread took each run of a walk, and how many threads have walked
    // it to its end, by (position, associated).
    struct walk_runs
    {
        std::vector<std::size_t> owners;
        std::size_t walked = 0;
    };
    std::map<std::pair<std::size_t, bool>, walk_runs> m_runs;
    // The thread m_current came from.
    const reader *m_current_owner = nullptr;

    std::vector<std::unique_ptr<reader>> m_readers;
};

} // namespace korvel::convert
