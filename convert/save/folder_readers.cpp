#include "convert/save/folder_readers.h"

#include <chrono>
#include <cstdint>

#include "convert/save/malloc_arenas.h"
#include "convert/save/pff_source.h"
#include "scan/source_file.h"
#include "scan/folder_messages.h"

namespace korvel::convert {

namespace {

// Entries without a message still count against the bound.
constexpr std::size_t entry_overhead = 256;

// A Stop sets its flag without waking anyone: every wait looks at it often.
template <typename Ready>
void wait_until(std::condition_variable &changed, std::unique_lock<std::mutex> &lock, Ready ready)
{
    while (!ready()) {
        changed.wait_for(lock, std::chrono::milliseconds(20));
    }
}

} // namespace

int walk_folder_contents(libpff_item_t *folder, bool associated,
                         const std::function<int(libpff_item_t *, int)> &visit,
                         const std::function<void(int)> &unreadable, bool *from_node_index,
                         const std::function<bool(int)> &wanted)
{
    libpff_error_t *error = nullptr;
    if (!associated) {
        // The save's own visit tests Stop, so no handle is passed.
        const int result = export_handle_walk_sub_messages(nullptr, folder, visit, unreadable,
                                                           from_node_index, wanted, &error);
        libpff_error_free(&error);
        return result;
    }
    int count = 0;
    if (libpff_folder_get_number_of_sub_associated_contents(folder, &count, &error) != 1) {
        libpff_error_free(&error);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (wanted && !wanted(i)) {
            continue;
        }
        libpff_item_t *message = nullptr;
        if (libpff_folder_get_sub_associated_content(folder, i, &message, &error) != 1) {
            libpff_error_free(&error);
            unreadable(i);
            continue;
        }
        int r = visit(message, i);
        libpff_item_free(&message, nullptr);
        if (r == 0) {
            return 0;
        }
    }
    return 1;
}

folder_readers::folder_readers(const std::string &path, std::vector<std::uint32_t> folders,
                               unsigned threads, mailbox_sink &sink, const std::atomic<bool> &stop,
                               std::function<bool()> trim_wanted)
    : m_path(path), m_folders(std::move(folders)), m_sink(sink), m_stop(stop),
      m_trim_wanted(std::move(trim_wanted))
{
    for (unsigned i = 0; i < threads; ++i) {
        auto r = std::make_unique<reader>();
        r->number = i;
        m_readers.push_back(std::move(r));
    }
    for (auto &r : m_readers) {
        r->thread = std::thread([this, self = r.get()] { run(*self); });
    }
}

folder_readers::~folder_readers()
{
    {
        std::lock_guard lock(m_mutex);
        // Messages that borrow a thread's file go while that thread waits.
        release_current();
        for (auto &r : m_readers) {
            while (!r->queue.empty()) {
                pop(*r);
            }
        }
        m_closing = true;
    }
    m_ready.notify_all();
    m_room.notify_all();
    for (auto &r : m_readers) {
        if (r->thread.joinable()) {
            r->thread.join();
        }
    }
}

void folder_readers::close_when_done(reader &self)
{
    {
        std::unique_lock lock(m_mutex);
        // A Stop alone does not end the wait: the save's thread may still
        // hold one of this thread's messages until it sets m_closing.
        wait_until(m_room, lock, [&] {
            return m_closing.load() ||
                   (self.queue.empty() && (m_current_owner != &self || !m_current->prepared));
        });
    }
    source_file_close(&self.file, &self.io);
    // Each reading thread allocated in a malloc arena of its own, which keeps
    // what was freed there: handed back before the save goes on (to the
    // free-space search, say), by the last thread to close. malloc_trim
    // walks every arena and hands back each free run of pages with a system
    // call of its own (some 3,000 after 14,000 messages), each one flushing
    // the other cores' page tables while threads run: once is enough.
    if (m_closed.fetch_add(1) + 1 == m_readers.size() && (!m_trim_wanted || m_trim_wanted())) {
        trim_malloc_arenas();
    }
}

void folder_readers::run(reader &self)
{
    source_file_open(m_path, &self.file, &self.io);
    libpff_error_t *error = nullptr;
    for (std::size_t position = 0; position < m_folders.size(); ++position) {
        libpff_item_t *folder = nullptr;
        if (self.file && libpff_file_get_item_by_identifier(self.file, m_folders[position], &folder,
                                                            &error) != 1) {
            libpff_error_free(&error);
            folder = nullptr;
        }
        read_ahead_entry begun;
        begun.what = read_ahead_entry::kind::folder;
        begun.position = position;
        begun.available = folder != nullptr;
        bool on = push(self, std::move(begun), true);
        for (bool associated : {false, true}) {
            on = on && folder && read_walk(self, folder, position, associated);
        }
        if (folder) {
            libpff_item_free(&folder, nullptr);
        }
        if (!on && stopping()) {
            break;
        }
    }
    close_when_done(self);
}

bool folder_readers::read_walk(reader &self, libpff_item_t *folder, std::size_t position,
                               bool associated)
{
    // The place of the message being visited: the last of a run wakes the
    // save's thread.
    std::size_t place = 0;
    std::size_t asked = SIZE_MAX;
    bool taken = false;
    auto mine = [&](int p) {
        place = static_cast<std::size_t>(p);
        const std::size_t run = place / run_length;
        if (run != asked) {
            asked = run;
            taken = claim(self, position, associated, run);
        }
        return taken;
    };
    auto run_ends = [&] { return place % run_length == run_length - 1; };
    auto entry = [&](read_ahead_entry::kind what, int index) {
        read_ahead_entry e;
        e.what = what;
        e.position = position;
        e.associated = associated;
        e.index = index;
        return e;
    };
    auto visit = [&](libpff_item_t *message, int index) {
        if (stopping()) {
            return 0;
        }
        read_ahead_entry e = entry(read_ahead_entry::kind::message, index);
        e.identifier = identifier_of(message);
        e.prepared = m_sink.prepare_message(message, associated);
        bool released = false;
        const bool borrows = e.prepared && e.prepared->borrows_source;
        if (borrows) {
            e.released = &released;
        }
        if (!push(self, std::move(e), borrows || run_ends())) {
            return 0;
        }
        if (borrows) {
            // The save's thread reads through this file until it is done.
            std::unique_lock lock(m_mutex);
            wait_until(m_room, lock, [&] { return released || m_closing.load(); });
            return released ? 1 : 0;
        }
        return 1;
    };
    bool on = true;
    auto lost = [&](int index) {
        on = on && push(self, entry(read_ahead_entry::kind::lost, index), run_ends());
    };
    read_ahead_entry walked = entry(read_ahead_entry::kind::walked, 0);
    walked.walk_result =
        walk_folder_contents(folder, associated, visit, lost, &walked.from_node_index, mine);
    if (walked.walk_result == 0 || !on) {
        return false;
    }
    return push(self, std::move(walked), true);
}

bool folder_readers::push(reader &self, read_ahead_entry entry, bool wake)
{
    entry.bytes = entry_overhead + (entry.prepared ? entry.prepared->bytes : 0);
    std::unique_lock lock(m_mutex);
    auto room = [&] {
        return stopping() || self.queue.empty() || self.bytes + entry.bytes <= queue_limit;
    };
    if (!room()) {
        // What is queued is all the save's thread gets until there is room.
        m_ready.notify_one();
        wait_until(m_room, lock, room);
    }
    if (stopping()) {
        return false;
    }
    if (entry.what == read_ahead_entry::kind::walked) {
        ++m_runs[{entry.position, entry.associated}].walked;
    }
    self.bytes += entry.bytes;
    self.queue.push_back(std::move(entry));
    lock.unlock();
    if (wake) {
        m_ready.notify_one();
    }
    return true;
}

bool folder_readers::claim(const reader &self, std::size_t position, bool associated,
                           std::size_t run)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::size_t> &owners = m_runs[{position, associated}].owners;
    if (owners.size() != run) {
        return false; // another thread's
    }
    owners.push_back(self.number);
    return true;
}

read_ahead_entry *folder_readers::front(std::unique_lock<std::mutex> &lock, reader &r)
{
    wait_until(m_ready, lock, [&] { return m_stop.load() || !r.queue.empty(); });
    return m_stop.load() ? nullptr : &r.queue.front();
}

void folder_readers::pop(reader &r)
{
    read_ahead_entry &e = r.queue.front();
    bool *released = e.released;
    r.bytes -= e.bytes;
    r.queue.pop_front();
    if (released) {
        *released = true;
    }
}

void folder_readers::release_current()
{
    if (m_current) {
        bool *released = m_current->released;
        m_current.reset();
        m_current_owner = nullptr;
        if (released) {
            *released = true;
        }
    }
}

bool folder_readers::begin(std::uint32_t identifier)
{
    std::size_t position = m_started ? m_position + 1 : 0;
    while (position < m_folders.size() && m_folders[position] != identifier) {
        ++position;
    }
    if (position == m_folders.size()) {
        return false;
    }
    std::unique_lock lock(m_mutex);
    release_current();
    m_position = position;
    m_started = true;
    m_associated = false;
    m_sequence = 0;
    // Runs of the folders before (left out, or given up part-way) are done with.
    m_runs.erase(m_runs.begin(), m_runs.lower_bound({position, false}));
    bool available = true;
    // What is left of the folders before (one left out, or given up part-way)
    // goes; then every thread says whether it found this one.
    for (auto &r : m_readers) {
        read_ahead_entry *e = front(lock, *r);
        while (e && (e->position < position || e->what != read_ahead_entry::kind::folder)) {
            pop(*r);
            m_room.notify_all();
            e = front(lock, *r);
        }
        if (!e) {
            return true; // a Stop: next() says so
        }
        available = available && e->available;
        pop(*r);
    }
    lock.unlock();
    m_room.notify_all();
    return available;
}

read_ahead_entry *folder_readers::next()
{
    std::unique_lock lock(m_mutex);
    release_current();
    m_room.notify_all();
    // The thread that took the next run, or none when every thread walked
    // to the end without taking it.
    const std::size_t run = m_sequence / run_length;
    reader *owner = nullptr;
    for (;;) {
        if (m_stop.load()) {
            return nullptr;
        }
        const walk_runs &runs = m_runs[{m_position, m_associated}];
        if (run < runs.owners.size()) {
            owner = m_readers[runs.owners[run]].get();
            break;
        }
        if (runs.walked == m_readers.size()) {
            owner = m_readers.front().get();
            break;
        }
        m_ready.wait_for(lock, std::chrono::milliseconds(20));
    }
    read_ahead_entry *e = front(lock, *owner);
    if (!e) {
        return nullptr;
    }
    if (e->what == read_ahead_entry::kind::walked) {
        // The walk ends: every thread's queue holds its own end of it next.
        for (auto &r : m_readers) {
            if (r.get() == owner) {
                continue;
            }
            read_ahead_entry *other = front(lock, *r);
            while (other && other->what != read_ahead_entry::kind::walked) {
                pop(*r);
                other = front(lock, *r);
            }
            if (!other) {
                return nullptr;
            }
            pop(*r);
        }
        m_runs.erase({m_position, m_associated});
        m_associated = true;
        m_sequence = 0;
    } else {
        ++m_sequence;
    }
    m_current = std::make_unique<read_ahead_entry>(std::move(*e));
    m_current_owner = owner;
    owner->bytes -= m_current->bytes;
    owner->queue.pop_front();
    lock.unlock();
    m_room.notify_all();
    return m_current.get();
}

} // namespace korvel::convert
