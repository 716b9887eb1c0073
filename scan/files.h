// The working directory and the file-system helpers around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvel {

// The user's private temporary directory, ending in "/": $TMPDIR (else /tmp)
// + "korvel-<uid>/", mode 0700. When that is a link, not a directory, or not
// ours, a fresh private one is made for this run instead. Empty on failure.
const std::string &temporary_directory();

// temporary_directory() + "Attachments": every file the program writes goes
// there.
std::string working_directory();

// Removes a directory with everything in it. Never follows a symbolic link: a
// link is removed as an entry. Stops at the first entry it cannot remove.
// Returns true when the directory itself was removed.
bool remove_directory(const std::string &path);

// The attachment existence test: 1 present (also when it cannot be read),
// 0 absent, -1 error.
int path_exists(const std::string &path);

// Writes all of data to fd, again after an interrupted write. Returns false on
// a short or failed write.
bool write_all(int fd, const std::uint8_t *data, std::size_t size);

} // namespace korvel
