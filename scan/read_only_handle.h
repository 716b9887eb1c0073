// A libbfio io handle over a mailbox we only read, whose reads one of our
// sources serves: libbfio's callbacks (open, close, seek, size, clone, free)
// live here once, and a source says only what its bytes are.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <sys/types.h>

#include <libbfio.h>

namespace korvel {

class read_only_source
{
public:
    explicit read_only_source(std::string path) : m_path(std::move(path)) {}
    virtual ~read_only_source();
    read_only_source(const read_only_source &) = delete;
    read_only_source &operator=(const read_only_source &) = delete;

    // A source of the same bytes, not open (libbfio clones a handle so).
    virtual std::unique_ptr<read_only_source> clone() const = 0;
    // Up to size bytes at offset into buffer: how many were read (fewer, or
    // 0, past the end), or -1 on a failure. Called only while open.
    virtual ssize_t read_at(std::uint64_t offset, std::uint8_t *buffer, std::size_t size) = 0;
    // The size libpff sees.
    virtual std::uint64_t size() const = 0;
    // The file was opened (fd() is set): false refuses the open.
    virtual bool opened() { return true; }

    const std::string &path() const { return m_path; }
    int fd() const { return m_fd; }

private:
    friend struct read_only_callbacks;

    std::string m_path;
    int m_fd = -1;
    std::uint64_t m_offset = 0;
};

// Makes *handle own source. Returns 1, or -1 (source freed, *handle nullptr).
int read_only_handle_initialize(std::unique_ptr<read_only_source> source,
                                libbfio_handle_t **handle);

// Reads size bytes at offset with pread, as many as the file has: how many,
// or -1 on a failure.
ssize_t read_fully(int fd, std::uint8_t *buffer, std::size_t size, std::uint64_t offset);

} // namespace korvel
