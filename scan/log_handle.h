// The engine's log: one optional output stream. The scan never names a log
// file, so every log line is dropped; the handle exists so that the walk keeps
// one shape whether or not a log is wanted.
#pragma once

#include <cstdio>
#include <libpff.h>

namespace korvel {

struct log_handle_t
{
    // The log file, or nullptr while no log is open.
    std::FILE *log_stream;
};

// Creates a closed log handle. Returns 1 if successful, -1 on error.
int log_handle_initialize(log_handle_t **log_handle, libpff_error_t **error);

// Closes and frees the handle; sets the pointer to nullptr. Returns 1.
int log_handle_free(log_handle_t **log_handle, libpff_error_t **error);

// Opens filename for appending; no filename leaves the log closed.
// Returns 1 if successful, -1 on error.
int log_handle_open(log_handle_t *log_handle, const char *filename, libpff_error_t **error);

// Closes an open log. Returns 0 if successful, -1 on error.
int log_handle_close(log_handle_t *log_handle, libpff_error_t **error);

// Writes a line when the log is open.
void log_handle_printf(log_handle_t *log_handle, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

} // namespace korvel
