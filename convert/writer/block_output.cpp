#include "convert/writer/block_output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "convert/writer/pst_writer.h"
#include "format/crc.h"
#include "format/encoding.h"
#include "format/layout.h"

namespace korvel::convert::ndb {

void write_all(int fd, const std::uint8_t *data, std::size_t size, std::uint64_t at)
{
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw output_error(std::string("write failed: ") + std::strerror(errno), errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
}

void start_writeback(int fd, std::uint64_t at, std::size_t size)
{
#if defined(__linux__)
    // Only a hint: a failure changes nothing, the fsync at the end still
    // decides. Without it the kernel kept a 1 GB save's pages dirty until
    // that fsync, which then waited 0.75-0.9 s on the disk with every thread
    // idle; started a buffer at a time, the disk writes while the threads
    // still read, and that fsync took 0.16-0.63 s.
    ::sync_file_range(fd, static_cast<off_t>(at), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
    (void)at;
    (void)size;
#endif
}

void finish_blocks(std::uint8_t *buffer, const std::vector<unfinished_block> &blocks)
{
    for (const unfinished_block &b : blocks) {
        std::uint8_t *data = buffer + b.offset;
        if (b.encode) {
            format::permute_encode(data, b.size);
        }
        format::store_le<std::uint32_t>(buffer + b.crc_at, format::crc32(0, data, b.size));
    }
}

block_output::block_output(int fd) : m_fd(fd), m_thread([this] { run(); }) {}

block_output::~block_output()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void block_output::rethrow_locked()
{
    // The error stays: every later call fails the same way.
    if (m_error) {
        std::rethrow_exception(m_error);
    }
}

block_output::buffer block_output::write_buffer(buffer full, std::size_t size, std::uint64_t at,
                                                std::vector<unfinished_block> blocks)
{
    std::unique_lock lock(m_mutex);
    // One buffer written while the other fills: the writer waits here when
    // the disk (or the encoding) is the slower side.
    m_changed.wait(lock, [&] { return m_buffers_out == 0 || m_error; });
    rethrow_locked();
    job j;
    j.bytes = std::move(full);
    j.size = size;
    j.at = at;
    j.blocks = std::move(blocks);
    j.is_buffer = true;
    m_jobs.push_back(std::move(j));
    ++m_buffers_out;
    buffer spare = std::move(m_spare);
    m_spare = {};
    lock.unlock();
    m_changed.notify_all();
    return spare;
}

void block_output::write_copy(const std::uint8_t *data, std::size_t size, std::uint64_t at)
{
    job j;
    j.bytes.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    j.bytes.capacity = size;
    std::memcpy(j.bytes.bytes.get(), data, size);
    j.size = size;
    j.at = at;
    {
        std::lock_guard lock(m_mutex);
        rethrow_locked();
        m_jobs.push_back(std::move(j));
    }
    m_changed.notify_all();
}

void block_output::drain()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_jobs.empty() || m_error; });
    rethrow_locked();
}

void block_output::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_jobs.empty() || m_closing; });
        if (m_jobs.empty()) {
            return;
        }
        // The job stays queued while it is written, so drain() waits for it.
        job &j = m_jobs.front();
        lock.unlock();
        std::exception_ptr error;
        try {
            finish_blocks(j.bytes.bytes.get(), j.blocks);
            write_all(m_fd, j.bytes.bytes.get(), j.size, j.at);
            if (j.is_buffer) {
                start_writeback(m_fd, j.at, j.size);
            }
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (j.is_buffer) {
            --m_buffers_out;
            m_spare = std::move(j.bytes);
        }
        m_jobs.pop_front();
        if (error && !m_error) {
            m_error = error;
        }
        if (m_error) {
            // Nothing more is written after a failure; the writer is told at
            // its next call.
            m_jobs.clear();
            m_buffers_out = 0;
        }
        lock.unlock();
        m_changed.notify_all();
        lock.lock();
    }
}

} // namespace korvel::convert::ndb
