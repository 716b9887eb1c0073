#include "scan/log_handle.h"

#include <cstdarg>
#include <new>

namespace korvel {

int log_handle_initialize(log_handle_t **log_handle, libpff_error_t **error)
{
    (void)error;
    if (log_handle == nullptr) {
        return -1;
    }
    if (*log_handle != nullptr) {
        return 1;
    }
    *log_handle = new (std::nothrow) log_handle_t{nullptr};
    return *log_handle != nullptr ? 1 : -1;
}

int log_handle_free(log_handle_t **log_handle, libpff_error_t **error)
{
    if (log_handle == nullptr) {
        return -1;
    }
    if (*log_handle != nullptr) {
        log_handle_close(*log_handle, error);
        delete *log_handle;
        *log_handle = nullptr;
    }
    return 1;
}

int log_handle_open(log_handle_t *log_handle, const char *filename, libpff_error_t **error)
{
    (void)error;
    if (log_handle == nullptr) {
        return -1;
    }
    if (filename == nullptr) {
        return 1;
    }
    log_handle->log_stream = std::fopen(filename, "a");
    return log_handle->log_stream != nullptr ? 1 : -1;
}

int log_handle_close(log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    if (log_handle == nullptr) {
        return -1;
    }
    if (log_handle->log_stream != nullptr) {
        int result = std::fclose(log_handle->log_stream);
        log_handle->log_stream = nullptr;
        if (result != 0) {
            return -1;
        }
    }
    return 0;
}

void log_handle_printf(log_handle_t *log_handle, const char *format, ...)
{
    if (log_handle == nullptr || log_handle->log_stream == nullptr) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(log_handle->log_stream, format, arguments);
    va_end(arguments);
}

} // namespace korvel
