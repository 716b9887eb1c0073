// The writer's file output on a thread of its own: the writer fills one
// buffer with blocks (data copied, not yet encoded) while this thread
// encodes, checksums and writes the buffer before it. Two buffers, so the
// memory is bounded by twice the writer's buffer.
//
// Every write goes through here in the order it was handed over (a page
// written before the buffer start follows the buffer holding its place), so
// the file comes out byte for byte as the writer would have written it alone.
// A write error is kept and thrown (output_error) from the next call on the
// writer's side.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvel::convert::ndb {

// A block built in a buffer whose encoding and CRC are still to be done.
struct unfinished_block
{
    // Offset of the block in the buffer.
    std::size_t offset = 0;
    // Payload bytes (the CRC covers these).
    std::uint16_t size = 0;
    // Offset of the CRC field in the buffer.
    std::size_t crc_at = 0;
    // Apply the permute encoding before the CRC.
    bool encode = false;
};

// Writes all size bytes at file offset at, through short writes and EINTR;
// throws output_error when the file refuses them.
void write_all(int fd, const std::uint8_t *data, std::size_t size, std::uint64_t at);

// Asks the kernel to start writing bytes [at, at + size) of fd to the disk
// now, without waiting, so that they are not all left to the closing fsync.
void start_writeback(int fd, std::uint64_t at, std::size_t size);

// Encodes and checksums the blocks in place (what the thread does to a buffer).
void finish_blocks(std::uint8_t *buffer, const std::vector<unfinished_block> &blocks);

class block_output
{
public:
    // Writes to fd (not owned; the caller closes it after drain()).
    explicit block_output(int fd);
    // Waits for the writes handed over, dropping any error.
    ~block_output();
    block_output(const block_output &) = delete;
    block_output &operator=(const block_output &) = delete;

    struct buffer
    {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t capacity = 0;
    };
    // Hands over size bytes of full, to go at file offset at once its blocks
    // are finished. Waits while the buffer before is still being written,
    // then returns that one (empty when there is none) for reuse.
    buffer write_buffer(buffer full, std::size_t size, std::uint64_t at,
                        std::vector<unfinished_block> blocks);
    // Copies bytes to go at file offset at after what was handed over before.
    void write_copy(const std::uint8_t *data, std::size_t size, std::uint64_t at);
    // Waits until everything handed over is on its way to the file.
    void drain();

private:
    struct job
    {
        buffer bytes;
        std::size_t size = 0;
        std::uint64_t at = 0;
        std::vector<unfinished_block> blocks;
        bool is_buffer = false;
    };
    void run();
    void rethrow_locked();

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<job> m_jobs;
    // The buffer last written, waiting to be reused.
    buffer m_spare;
    // Buffers handed over and not yet written.
    int m_buffers_out = 0;
    bool m_closing = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};

} // namespace korvel::convert::ndb
