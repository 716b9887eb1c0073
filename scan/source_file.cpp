#include "scan/source_file.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel {

namespace {

// Index nodes and data blocks of one message lie close together in the
// file, and the free-space search walks it from the start: 64 KiB blocks,
// eight of them, serve both with a read of their own now and then.
constexpr std::size_t block_size = 64 * 1024;
constexpr std::size_t block_count = 8;

struct block
{
    std::uint64_t number = 0;
    std::size_t valid = 0; // bytes read into data (fewer at the end of the file)
    std::uint64_t used = 0; // when it served last; 0: empty
    std::unique_ptr<std::uint8_t[]> data;
};

// The io handle libbfio calls back with.
struct source
{
    std::string path;
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t clock = 0;
    std::array<block, block_count> blocks;
};

source *as_source(intptr_t *io_handle) { return reinterpret_cast<source *>(io_handle); }

void forget_blocks(source &s)
{
    for (block &b : s.blocks) {
        b.used = 0;
        b.valid = 0;
    }
}

// Reads size bytes at offset, as many as the file has; -1 on a failure.
ssize_t read_at(int fd, std::uint8_t *buffer, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// The block holding number, read when none does; nullptr on a failure.
block *block_for(source &s, std::uint64_t number)
{
    block *oldest = &s.blocks[0];
    for (block &b : s.blocks) {
        if (b.used != 0 && b.number == number) {
            b.used = ++s.clock;
            return &b;
        }
        if (b.used < oldest->used) {
            oldest = &b;
        }
    }
    if (!oldest->data) {
        oldest->data.reset(new (std::nothrow) std::uint8_t[block_size]);
        if (!oldest->data) {
            return nullptr;
        }
    }
    oldest->used = 0;
    const ssize_t n = read_at(s.fd, oldest->data.get(), block_size, number * block_size);
    if (n < 0) {
        return nullptr;
    }
    oldest->number = number;
    oldest->valid = static_cast<std::size_t>(n);
    oldest->used = ++s.clock;
    return oldest;
}

int source_free(intptr_t **io_handle, libbfio_error_t **)
{
    if (io_handle == nullptr || *io_handle == nullptr) {
        return 1;
    }
    source *s = as_source(*io_handle);
    if (s->fd >= 0) {
        ::close(s->fd);
    }
    delete s;
    *io_handle = nullptr;
    return 1;
}

int source_clone(intptr_t **destination, intptr_t *from, libbfio_error_t **)
{
    if (destination == nullptr || from == nullptr) {
        return -1;
    }
    source *copy = new (std::nothrow) source;
    if (copy == nullptr) {
        return -1;
    }
    copy->path = as_source(from)->path;
    *destination = reinterpret_cast<intptr_t *>(copy);
    return 1;
}

int source_open(intptr_t *io_handle, int access_flags, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    if (s == nullptr || (access_flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) {
        return -1;
    }
    if (s->fd < 0) {
        s->fd = ::open(s->path.c_str(), O_RDONLY | O_CLOEXEC);
        if (s->fd < 0) {
            return -1;
        }
        struct stat st;
        if (::fstat(s->fd, &st) != 0) {
            ::close(s->fd);
            s->fd = -1;
            return -1;
        }
        s->size = static_cast<std::uint64_t>(st.st_size);
    }
    s->offset = 0;
    forget_blocks(*s);
    return 1;
}

int source_close(intptr_t *io_handle, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    if (s == nullptr) {
        return -1;
    }
    if (s->fd >= 0) {
        ::close(s->fd);
        s->fd = -1;
    }
    forget_blocks(*s);
    return 0;
}

ssize_t source_read(intptr_t *io_handle, uint8_t *buffer, size_t size, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    if (s == nullptr || s->fd < 0 || buffer == nullptr) {
        return -1;
    }
    std::size_t done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        if (left >= block_size) {
            // A big read gains nothing from the blocks and would push them out.
            const ssize_t n = read_at(s->fd, buffer + done, left, s->offset);
            if (n < 0) {
                return -1;
            }
            s->offset += static_cast<std::uint64_t>(n);
            done += static_cast<std::size_t>(n);
            break;
        }
        block *b = block_for(*s, s->offset / block_size);
        if (b == nullptr) {
            return -1;
        }
        const std::size_t within = static_cast<std::size_t>(s->offset % block_size);
        if (within >= b->valid) {
            break; // the end of the file
        }
        const std::size_t n = std::min(left, b->valid - within);
        std::memcpy(buffer + done, b->data.get() + within, n);
        s->offset += n;
        done += n;
    }
    return static_cast<ssize_t>(done);
}

ssize_t source_write(intptr_t *, const uint8_t *, size_t, libbfio_error_t **) { return -1; }

off64_t source_seek(intptr_t *io_handle, off64_t offset, int whence, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    if (s == nullptr || s->fd < 0) {
        return -1;
    }
    off64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<off64_t>(s->offset);
    } else if (whence == SEEK_END) {
        base = static_cast<off64_t>(s->size);
    } else if (whence != SEEK_SET) {
        return -1;
    }
    // A damaged index may name any offset: refuse what would wrap around.
    if (offset < -base || (offset > 0 && base > std::numeric_limits<off64_t>::max() - offset)) {
        return -1;
    }
    s->offset = static_cast<std::uint64_t>(base + offset);
    return static_cast<off64_t>(s->offset);
}

int source_exists(intptr_t *io_handle, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    return s != nullptr && ::access(s->path.c_str(), F_OK) == 0 ? 1 : 0;
}

int source_is_open(intptr_t *io_handle, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    return s != nullptr && s->fd >= 0 ? 1 : 0;
}

int source_get_size(intptr_t *io_handle, size64_t *size, libbfio_error_t **)
{
    source *s = as_source(io_handle);
    if (s == nullptr || size == nullptr || s->fd < 0) {
        return -1;
    }
    *size = s->size;
    return 1;
}

} // namespace

int source_io_initialize(const std::string &path, libbfio_handle_t **io)
{
    if (io == nullptr) {
        return -1;
    }
    *io = nullptr;
    source *s = new (std::nothrow) source;
    if (s == nullptr) {
        return -1;
    }
    s->path = path;
    libbfio_error_t *bfio_error = nullptr;
    if (libbfio_handle_initialize(io, reinterpret_cast<intptr_t *>(s), source_free, source_clone,
                                  source_open, source_close, source_read, source_write,
                                  source_seek, source_exists, source_is_open, source_get_size,
                                  LIBBFIO_FLAG_IO_HANDLE_MANAGED |
                                      LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                  &bfio_error) != 1) {
        libbfio_error_free(&bfio_error);
        delete s;
        *io = nullptr;
        return -1;
    }
    return 1;
}

int source_file_open(const std::string &path, libpff_file_t **file, libbfio_handle_t **io)
{
    if (file == nullptr || io == nullptr) {
        return -1;
    }
    *file = nullptr;
    if (source_io_initialize(path, io) != 1) {
        return -1;
    }
    libpff_error_t *error = nullptr;
    if (libpff_file_initialize(file, &error) != 1) {
        libpff_error_free(&error);
        libbfio_handle_free(io, nullptr);
        *file = nullptr;
        return -1;
    }
    // The engine's code page for 8-bit text (scan/scan_driver).
    if (libpff_file_set_ascii_codepage(*file, LIBPFF_CODEPAGE_WINDOWS_1252, &error) != 1 ||
        libpff_file_open_file_io_handle(*file, *io, LIBPFF_OPEN_READ, &error) != 1) {
        libpff_error_free(&error);
        libpff_file_free(file, nullptr);
        libbfio_handle_free(io, nullptr);
        *file = nullptr;
        *io = nullptr;
        return -1;
    }
    return 1;
}

void source_file_close(libpff_file_t **file, libbfio_handle_t **io)
{
    if (file != nullptr && *file != nullptr) {
        libpff_file_close(*file, nullptr);
        libpff_file_free(file, nullptr);
    }
    if (io != nullptr && *io != nullptr) {
        libbfio_handle_free(io, nullptr);
    }
}

} // namespace korvel
