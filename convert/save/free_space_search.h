// libpff's search of the free space for deleted items, for a save whose scan
// did not run it: on a libpff file of its own on the mailbox (opened again
// from its name, as the reading threads open theirs) and on a thread of its
// own, started with the save so that it overlaps the walk of the folders,
// whose "Recovered Items" come last. The search reads the whole file on a
// mailbox the page map does not describe, and on one thread it was a fifth
// of the save.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include <libbfio.h>
#include <libpff.h>

#include "scan/recovered_items.h"

namespace korvel::convert {

class free_space_search
{
public:
    // Starts the search on the mailbox at path (UTF-8). The messages it finds
    // are listed after the identifiers in listed (the scan's orphans, which
    // the scan's own list leaves out of this source). stop ends it.
    free_space_search(const std::string &path, const recovered_items &listed,
                      const std::atomic<bool> &stop);
    // Ends the search (libpff is asked to abort) and closes its file.
    ~free_space_search();
    free_space_search(const free_space_search &) = delete;
    free_space_search &operator=(const free_space_search &) = delete;

    // Waits for the search, telling waiting (may be empty) first when it is
    // still running. Returns 1 done, 0 stopped, -1 when its file could not
    // be opened (the caller searches its own).
    int wait(const std::function<void()> &waiting);

    // True until the search ends; any thread may ask.
    bool running() const { return !m_done.load(); }

    // The messages found, in the order the scan's list would hold them;
    // valid while this lives.
    std::size_t count() const;
    libpff_item_t *get(std::size_t index) const;

private:
    void run();
    // Joins the thread, asking libpff to abort while stopping().
    void end();
    bool stopping() const { return m_stop.load() || m_abandoned.load(); }

    std::string m_path;
    const std::atomic<bool> &m_stop;
    libpff_file_t *m_file = nullptr;
    libbfio_handle_t *m_io = nullptr;
    recovered_items m_found;
    int m_result = 1;
    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_done{false};
    // The save ended without waiting for the search (a failure).
    std::atomic<bool> m_abandoned{false};
    std::thread m_thread;
};

} // namespace korvel::convert
