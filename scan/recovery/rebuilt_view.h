// A read-only view of a mailbox with a rebuilt index: the source's bytes with
// the corrected header laid over them and the rebuilt pages past the
// source's end, handed to libpff as a file handle whose reads we serve.
#pragma once

#include <memory>
#include <string>

#include <libbfio.h>
#include <libpff.h>

#include "scan/recovery/index_rebuild.h"

namespace korvel::recovery {

// Makes the view's handle (*handle, freed with libbfio_handle_free after the
// libpff file using it is closed) and opens file through it.
// Returns 1, or -1 when the source cannot be opened or libpff refuses it.
int recovery_open_rebuilt(libpff_file_t *file, const std::string &path,
                          std::shared_ptr<const rebuilt_index> index, libbfio_handle_t **handle,
                          libpff_error_t **error);

} // namespace korvel::recovery
