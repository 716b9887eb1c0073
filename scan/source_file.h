// The mailbox read through a libbfio handle that reads with pread and keeps
// the last blocks it read: the scan's own file, and the files the save's
// threads open again (a reading thread, the free-space search). libpff asks for
// a few hundred bytes at a time (index nodes, data blocks, and the free-space
// search's every offset), each a seek and a read through libbfio's own file
// handle: two system calls a read, which were most of a conversion's kernel
// time. Here neighbouring reads are served from memory.
#pragma once

#include <string>

#include <libbfio.h>
#include <libpff.h>

namespace korvel {

// The handle alone, for libpff_file_open_file_io_handle; closed and freed
// with libbfio_handle_free after the libpff file that read through it.
// Returns 1, or -1 with *io nullptr.
int source_io_initialize(const std::string &path, libbfio_handle_t **io);

// Opens the mailbox at path (UTF-8) read-only with the engine's code page for
// 8-bit text. Returns 1 with *file and *io set (both closed by
// source_file_close), or -1 with both nullptr.
int source_file_open(const std::string &path, libpff_file_t **file, libbfio_handle_t **io);

// Closes and frees what source_file_open made; either may be nullptr.
void source_file_close(libpff_file_t **file, libbfio_handle_t **io);

} // namespace korvel
