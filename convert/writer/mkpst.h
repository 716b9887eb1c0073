// korvel-mkpst: writes a PST file from a JSON mailbox description (the format
// is in convert/README.md).
#pragma once

#include <stdexcept>
#include <string>

namespace korvel::convert {

// A description that cannot be written; what() names the place in the JSON.
struct description_error : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Writes the mailbox described by json_text to out_path, through a temporary
// file beside it that is renamed into place only when everything was written.
// Throws description_error for bad input and std::runtime_error for I/O
// failures; out_path is untouched then. base_dir resolves relative "file" paths.
void make_pst(const std::string &json_text, const std::string &out_path,
              const std::string &base_dir);

} // namespace korvel::convert
