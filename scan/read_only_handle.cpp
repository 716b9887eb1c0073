#include "scan/read_only_handle.h"

#include <cerrno>
#include <limits>
#include <new>

#include <fcntl.h>
#include <unistd.h>

namespace korvel {

read_only_source::~read_only_source()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

// libbfio's callbacks, on the source its io handle points at.
struct read_only_callbacks
{
    static read_only_source *of(intptr_t *io_handle)
    {
        return reinterpret_cast<read_only_source *>(io_handle);
    }

    static int free(intptr_t **io_handle, libbfio_error_t **)
    {
        if (io_handle == nullptr) {
            return 1;
        }
        delete of(*io_handle);
        *io_handle = nullptr;
        return 1;
    }

    static int clone(intptr_t **destination, intptr_t *from, libbfio_error_t **)
    {
        if (destination == nullptr || from == nullptr) {
            return -1;
        }
        std::unique_ptr<read_only_source> copy = of(from)->clone();
        if (!copy) {
            return -1;
        }
        *destination = reinterpret_cast<intptr_t *>(copy.release());
        return 1;
    }

    static int open(intptr_t *io_handle, int access_flags, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        if (s == nullptr || (access_flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) {
            return -1;
        }
        if (s->m_fd < 0) {
            s->m_fd = ::open(s->m_path.c_str(), O_RDONLY | O_CLOEXEC);
            if (s->m_fd < 0) {
                return -1;
            }
        }
        s->m_offset = 0;
        if (!s->opened()) {
            ::close(s->m_fd);
            s->m_fd = -1;
            return -1;
        }
        return 1;
    }

    static int close(intptr_t *io_handle, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        if (s == nullptr) {
            return -1;
        }
        if (s->m_fd >= 0) {
            ::close(s->m_fd);
            s->m_fd = -1;
        }
        return 0;
    }

    static ssize_t read(intptr_t *io_handle, uint8_t *buffer, size_t size, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        if (s == nullptr || s->m_fd < 0 || buffer == nullptr) {
            return -1;
        }
        const ssize_t n = s->read_at(s->m_offset, buffer, size);
        if (n > 0) {
            s->m_offset += static_cast<std::uint64_t>(n);
        }
        return n;
    }

    static ssize_t write(intptr_t *, const uint8_t *, size_t, libbfio_error_t **) { return -1; }

    static off64_t seek(intptr_t *io_handle, off64_t offset, int whence, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        if (s == nullptr || s->m_fd < 0) {
            return -1;
        }
        off64_t base = 0;
        if (whence == SEEK_CUR) {
            base = static_cast<off64_t>(s->m_offset);
        } else if (whence == SEEK_END) {
            base = static_cast<off64_t>(s->size());
        } else if (whence != SEEK_SET) {
            return -1;
        }
        // A damaged index may name any offset: refuse what would wrap around.
        if (offset < -base || (offset > 0 && base > std::numeric_limits<off64_t>::max() - offset)) {
            return -1;
        }
        s->m_offset = static_cast<std::uint64_t>(base + offset);
        return static_cast<off64_t>(s->m_offset);
    }

    static int exists(intptr_t *io_handle, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        return s != nullptr && ::access(s->m_path.c_str(), F_OK) == 0 ? 1 : 0;
    }

    static int is_open(intptr_t *io_handle, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        return s != nullptr && s->m_fd >= 0 ? 1 : 0;
    }

    static int get_size(intptr_t *io_handle, size64_t *size, libbfio_error_t **)
    {
        read_only_source *s = of(io_handle);
        if (s == nullptr || size == nullptr) {
            return -1;
        }
        *size = s->size();
        return 1;
    }
};

int read_only_handle_initialize(std::unique_ptr<read_only_source> source, libbfio_handle_t **handle)
{
    if (handle == nullptr || !source) {
        return -1;
    }
    *handle = nullptr;
    using c = read_only_callbacks;
    libbfio_error_t *error = nullptr;
    if (libbfio_handle_initialize(
            handle, reinterpret_cast<intptr_t *>(source.get()), c::free, c::clone, c::open,
            c::close, c::read, c::write, c::seek, c::exists, c::is_open, c::get_size,
            LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
            &error) != 1) {
        libbfio_error_free(&error);
        *handle = nullptr;
        return -1;
    }
    source.release(); // the handle frees it
    return 1;
}

ssize_t read_fully(int fd, std::uint8_t *buffer, std::size_t size, std::uint64_t offset)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return 0;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
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

} // namespace korvel
