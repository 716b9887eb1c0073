// One mailbox saved or converted: what korvel-pst save and convert report.
#pragma once

#include <string>

#include "convert/save/save.h"

namespace korvel::cli {

struct save_outcome
{
    std::string file;
    std::string target;
    std::string format;        // "pst", "mbox" or "eml"
    int status = 0;            // an exit status
    std::string error;         // the cause, when status is 2, 3 or 4
    std::string error_subject; // the file the error names (file when empty)
    convert::save_report report;
};

} // namespace korvel::cli
