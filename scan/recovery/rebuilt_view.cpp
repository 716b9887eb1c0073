#include "scan/recovery/rebuilt_view.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "scan/read_only_handle.h"

namespace korvel::recovery {
namespace {

// Serves the header, the source, the gap of zeros up to the rebuilt pages,
// and the pages.
class rebuilt_source : public read_only_source
{
public:
    rebuilt_source(const std::string &path, std::shared_ptr<const rebuilt_index> index)
        : read_only_source(path), m_index(std::move(index))
    {
    }

    std::unique_ptr<read_only_source> clone() const override
    {
        return std::unique_ptr<read_only_source>(new (std::nothrow)
                                                     rebuilt_source(path(), m_index));
    }

    std::uint64_t size() const override { return m_index->view_size(); }

    ssize_t read_at(std::uint64_t offset, std::uint8_t *buffer, std::size_t size) override
    {
        const rebuilt_index &index = *m_index;
        const std::uint64_t end = offset >= index.view_size()
                                      ? offset
                                      : std::min<std::uint64_t>(offset + size, index.view_size());
        std::size_t done = 0;
        for (std::uint64_t at = offset; at < end; at = offset + done) {
            std::size_t n = 0;
            if (at < index.header.size()) {
                n = static_cast<std::size_t>(std::min<std::uint64_t>(end, index.header.size()) -
                                             at);
                std::memcpy(buffer + done, index.header.data() + at, n);
            } else if (at < index.source_size) {
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(end, index.source_size) - at);
                const ssize_t got = read_fully(fd(), buffer + done, want, at);
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
            done += n;
        }
        return static_cast<ssize_t>(done);
    }

private:
    std::shared_ptr<const rebuilt_index> m_index;
};

} // namespace

int recovery_open_rebuilt(libpff_file_t *file, const std::string &path,
                          std::shared_ptr<const rebuilt_index> index, libbfio_handle_t **handle,
                          libpff_error_t **error)
{
    if (file == nullptr || handle == nullptr || index == nullptr) {
        return -1;
    }
    *handle = nullptr;
    std::unique_ptr<read_only_source> source(new (std::nothrow)
                                                 rebuilt_source(path, std::move(index)));
    if (read_only_handle_initialize(std::move(source), handle) != 1) {
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
