// Where the test data is: the sample mailboxes unpacked into the build tree,
// and a scratch directory per test.
#pragma once

#include <string>

namespace korvel::testing {

// KORVEL_SAMPLES_DIR + "/" + name.
std::string sample_path(const std::string &name);

// A fresh, empty directory under the build tree for one test, its own to
// this process and removed when the process ends.
std::string scratch_directory(const std::string &name);

} // namespace korvel::testing
