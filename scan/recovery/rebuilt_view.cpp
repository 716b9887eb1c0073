#include "scan/recovery/rebuilt_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace korvel::recovery {
namespace {

// The io handle libbfio calls back with.
struct view
{
    std::string path;
    std::shared_ptr<const rebuilt_index> index;
    int fd = -1;
    std::uint64_t offset = 0;
};

view *as_view(intptr_t *io_handle) { return reinterpret_cast<view *>(io_handle); }

int view_free(intptr_t **io_handle, libbfio_error_t **)
{
    if (io_handle == nullptr || *io_handle == nullptr) {
        return 1;
    }
    view *v = as_view(*io_handle);
    if (v->fd >= 0) {
        ::close(v->fd);
    }
    delete v;
    *io_handle = nullptr;
    return 1;
}

int view_clone(intptr_t **destination, intptr_t *source, libbfio_error_t **)
{
    if (destination == nullptr || source == nullptr) {
        return -1;
    }
    view *copy = new (std::nothrow) view{as_view(source)->path, as_view(source)->index, -1, 0};
    if (copy == nullptr) {
        return -1;
    }
    *destination = reinterpret_cast<intptr_t *>(copy);
    return 1;
}

int view_open(intptr_t *io_handle, int access_flags, libbfio_error_t **)
{
    view *v = as_view(io_handle);
    if (v == nullptr || (access_flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) {
        return -1;
    }
    if (v->fd < 0) {
        v->fd = ::open(v->path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    v->offset = 0;
    return v->fd >= 0 ? 1 : -1;
}

int view_close(intptr_t *io_handle, libbfio_error_t **)
{
    view *v = as_view(io_handle);
    if (v == nullptr) {
        return -1;
    }
    if (v->fd >= 0) {
        ::close(v->fd);
        v->fd = -1;
    }
    return 0;
}

// Serves [offset, offset + size) from the header, the source, the gap of
// zeros up to the rebuilt pages, and the pages.
ssize_t view_read(intptr_t *io_handle, uint8_t *buffer, size_t size, libbfio_error_t **)
{
    view *v = as_view(io_handle);
    if (v == nullptr || v->fd < 0 || buffer == nullptr) {
        return -1;
    }
    const rebuilt_index &index = *v->index;
    const std::uint64_t end = std::min<std::uint64_t>(v->offset + size, index.view_size());
    std::size_t done = 0;
    while (v->offset < end) {
        const std::uint64_t at = v->offset;
        std::size_t n = 0;
        if (at < index.header.size()) {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(end, index.header.size()) - at);
            std::memcpy(buffer + done, index.header.data() + at, n);
        } else if (at < index.source_size) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(end, index.source_size) - at);
            const ssize_t got = ::pread(v->fd, buffer + done, want, static_cast<off_t>(at));
            if (got <= 0) {
                return -1;
            }
            n = static_cast<std::size_t>(got);
        } else if (at < index.pages_at) {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(end, index.pages_at) - at);
            std::memset(buffer + done, 0, n);
        } else {
            n = static_cast<std::size_t>(end - at);
            std::memcpy(buffer + done, index.pages.data() + (at - index.pages_at), n);
        }
        v->offset += n;
        done += n;
    }
    return static_cast<ssize_t>(done);
}

ssize_t view_write(intptr_t *, const uint8_t *, size_t, libbfio_error_t **) { return -1; }

off64_t view_seek(intptr_t *io_handle, off64_t offset, int whence, libbfio_error_t **)
{
    view *v = as_view(io_handle);
    if (v == nullptr) {
        return -1;
    }
    off64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<off64_t>(v->offset);
    } else if (whence == SEEK_END) {
        base = static_cast<off64_t>(v->index->view_size());
    } else if (whence != SEEK_SET) {
        return -1;
    }
    if (offset < -base) {
        return -1;
    }
    v->offset = static_cast<std::uint64_t>(base + offset);
    return static_cast<off64_t>(v->offset);
}

int view_exists(intptr_t *, libbfio_error_t **) { return 1; }

int view_is_open(intptr_t *io_handle, libbfio_error_t **)
{
    view *v = as_view(io_handle);
    return v != nullptr && v->fd >= 0 ? 1 : 0;
}

int view_get_size(intptr_t *io_handle, size64_t *size, libbfio_error_t **)
{
    view *v = as_view(io_handle);
    if (v == nullptr || size == nullptr) {
        return -1;
    }
    *size = v->index->view_size();
    return 1;
}

} // namespace

int recovery_open_rebuilt(libpff_file_t *file, const std::string &path,
                          std::shared_ptr<const rebuilt_index> index, libbfio_handle_t **handle,
                          libpff_error_t **error)
{
    if (file == nullptr || handle == nullptr || index == nullptr) {
        return -1;
    }
    *handle = nullptr;
    view *v = new (std::nothrow) view{path, std::move(index), -1, 0};
    if (v == nullptr) {
        return -1;
    }
    libbfio_error_t *bfio_error = nullptr;
    if (libbfio_handle_initialize(handle, reinterpret_cast<intptr_t *>(v), view_free, view_clone,
                                  view_open, view_close, view_read, view_write, view_seek,
                                  view_exists, view_is_open, view_get_size,
                                  LIBBFIO_FLAG_IO_HANDLE_MANAGED |
                                      LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                  &bfio_error) != 1) {
        libbfio_error_free(&bfio_error);
        delete v;
        *handle = nullptr;
        return -1;
    }
    if (libpff_file_open_file_io_handle(file, *handle, LIBPFF_OPEN_READ, error) != 1) {
        libbfio_handle_free(handle, nullptr);
        *handle = nullptr;
        return -1;
    }
    return 1;
}

} // namespace korvel::recovery
