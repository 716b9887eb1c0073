#include "scan/files.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvel {

namespace {

// True when path is a real directory (not a link) owned by us and private.
bool is_private_directory(const std::string &path)
{
    struct stat status
    {
    };
    if (::lstat(path.c_str(), &status) != 0) {
        return false;
    }
    return S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 0077) == 0;
}

std::string make_temporary_directory()
{
    const char *base = std::getenv("TMPDIR");
    std::string root = (base != nullptr && base[0] != 0) ? base : "/tmp";
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    const std::string fixed = root + "/korvel-" + std::to_string(::getuid());
    if (::mkdir(fixed.c_str(), 0700) == 0 || errno == EEXIST) {
        if (is_private_directory(fixed)) {
            return fixed + "/";
        }
    }
    // Someone else's, a link, or not a directory: a fresh one for this run.
    std::string pattern = root + "/korvel-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (::mkdtemp(buffer.data()) == nullptr) {
        return std::string();
    }
    return std::string(buffer.data()) + "/";
}

bool remove_directory_at(int parent_fd, const char *name)
{
    const int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    DIR *directory = ::fdopendir(fd);
    if (directory == nullptr) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (ok) {
        errno = 0;
        struct dirent *entry = ::readdir(directory);
        if (entry == nullptr) {
            break;
        }
        const std::string entry_name = entry->d_name;
        if (entry_name == "." || entry_name == "..") {
            continue;
        }
        struct stat status
        {
        };
        if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            break;
        }
        if (S_ISDIR(status.st_mode)) {
            ok = remove_directory_at(fd, entry->d_name);
        } else {
            // Files and links alike are removed as entries.
            ok = ::unlinkat(fd, entry->d_name, 0) == 0;
        }
    }
    ::closedir(directory);
    if (!ok) {
        return false;
    }
    return ::unlinkat(parent_fd, name, AT_REMOVEDIR) == 0;
}

} // namespace

const std::string &temporary_directory()
{
    static const std::string directory = make_temporary_directory();
    return directory;
}

std::string working_directory()
{
    const std::string &base = temporary_directory();
    if (base.empty()) {
        return std::string();
    }
    return base + "Attachments";
}

bool remove_directory(const std::string &path)
{
    if (path.empty()) {
        return false;
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    struct stat status
    {
    };
    if (::lstat(trimmed.c_str(), &status) != 0) {
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        // A link standing where the directory should be is removed, never entered.
        return false;
    }
    return remove_directory_at(AT_FDCWD, trimmed.c_str());
}

int path_exists(const std::string &path)
{
    struct stat status
    {
    };
    if (::lstat(path.c_str(), &status) == 0) {
        return 1;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return 0;
    }
    if (errno == EACCES) {
        return 1;
    }
    return -1;
}

bool write_all(int fd, const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace korvel
