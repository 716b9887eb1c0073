// The --json reports of check, save and convert, for scripts. Their keys are
// documented in korvel-pst(1); new keys may be added, none renamed.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/check_report.h"
#include "cli/save_command.h"

namespace korvel::cli {

nlohmann::json check_json(const std::vector<check_report> &reports, int status);
nlohmann::json save_json(const std::vector<save_outcome> &outcomes, const std::string &command,
                         int status);

// One document on standard output, then a line break.
void print_json(const nlohmann::json &document);

} // namespace korvel::cli
