#include "convert/save/free_space_search.h"

#include <chrono>

#include "scan/source_file.h"

namespace korvel::convert {

free_space_search::free_space_search(const std::string &path, const recovered_items &listed,
                                     const std::atomic<bool> &stop)
    : m_path(path), m_stop(stop)
{
    m_found.identifiers = listed.identifiers;
    m_thread = std::thread([this] { run(); });
}

free_space_search::~free_space_search()
{
    m_abandoned = true;
    end();
    recovered_items_clear(&m_found);
    source_file_close(&m_file, &m_io);
}

void free_space_search::run()
{
    if (source_file_open(m_path, &m_file, &m_io) == 1) {
        m_opened = true;
    }
    if (m_file) {
        m_result =
            recovered_items_search_other_file(m_file, &m_found, [this] { return stopping(); });
    }
    m_done = true;
}

void free_space_search::end()
{
    if (!m_thread.joinable()) {
        return;
    }
    // An abort signalled before libpff's search starts is cleared by it:
    // signalled again until the thread is done.
    while (!m_done.load()) {
        if (stopping() && m_opened.load()) {
            libpff_file_signal_abort(m_file, nullptr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_thread.join();
}

int free_space_search::wait(const std::function<void()> &waiting)
{
    if (!m_done.load() && waiting) {
        waiting();
    }
    end();
    if (m_stop.load()) {
        return 0;
    }
    if (!m_file) {
        return -1;
    }
    return m_result;
}

std::size_t free_space_search::count() const
{
    return recovered_items_count(&m_found, recovered_source::free_space);
}

libpff_item_t *free_space_search::get(std::size_t index) const
{
    return recovered_items_get(&m_found, recovered_source::free_space, index);
}

} // namespace korvel::convert
