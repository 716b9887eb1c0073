#include "scan/source_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include <sys/stat.h>

#include "scan/read_only_handle.h"

namespace korvel {

namespace {

// Index nodes and data blocks of one message lie close together in the
// file, and the free-space search walks it from the start: 64 KiB blocks,
// eight of them, serve both with a read of their own now and then.
constexpr std::size_t block_size = 64 * 1024;
constexpr std::size_t block_count = 8;

class cached_source : public read_only_source
{
public:
    using read_only_source::read_only_source;

    std::unique_ptr<read_only_source> clone() const override
    {
        return std::unique_ptr<read_only_source>(new (std::nothrow) cached_source(path()));
    }

    bool opened() override
    {
        struct stat st;
        if (::fstat(fd(), &st) != 0) {
            return false;
        }
        m_size = static_cast<std::uint64_t>(st.st_size);
        for (block &b : m_blocks) {
            b.used = 0;
            b.valid = 0;
        }
        return true;
    }

    std::uint64_t size() const override { return m_size; }

    ssize_t read_at(std::uint64_t offset, std::uint8_t *buffer, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const std::size_t left = size - done;
            if (left >= block_size) {
                // A big read gains nothing from the blocks and would push them out.
                const ssize_t n = read_fully(fd(), buffer + done, left, offset + done);
                if (n < 0) {
                    return -1;
                }
                done += static_cast<std::size_t>(n);
                break;
            }
            const std::uint64_t at = offset + done;
            const block *b = block_for(at / block_size);
            if (b == nullptr) {
                return -1;
            }
            const std::size_t within = static_cast<std::size_t>(at % block_size);
            if (within >= b->valid) {
                break; // the end of the file
            }
            const std::size_t n = std::min(left, b->valid - within);
            std::memcpy(buffer + done, b->data.get() + within, n);
            done += n;
        }
        return static_cast<ssize_t>(done);
    }

private:
    struct block
    {
        std::uint64_t number = 0;
        std::size_t valid = 0;  // bytes read into data (fewer at the end of the file)
        std::uint64_t used = 0; // when it served last; 0: empty
        std::unique_ptr<std::uint8_t[]> data;
    };

    // The block holding number, read when none does; nullptr on a failure.
    const block *block_for(std::uint64_t number)
    {
        block *oldest = &m_blocks[0];
        for (block &b : m_blocks) {
            if (b.used != 0 && b.number == number) {
                b.used = ++m_clock;
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
        const ssize_t n = read_fully(fd(), oldest->data.get(), block_size, number * block_size);
        if (n < 0) {
            return nullptr;
        }
        oldest->number = number;
        oldest->valid = static_cast<std::size_t>(n);
        oldest->used = ++m_clock;
        return oldest;
    }

    std::uint64_t m_size = 0;
    std::uint64_t m_clock = 0;
    std::array<block, block_count> m_blocks;
};

} // namespace

int source_io_initialize(const std::string &path, libbfio_handle_t **io)
{
    std::unique_ptr<read_only_source> source(new (std::nothrow) cached_source(path));
    return read_only_handle_initialize(std::move(source), io);
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
