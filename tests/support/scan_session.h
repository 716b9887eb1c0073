// The tests know the scan session by its test-side name; it lives with the
// runner korvel-probe and korvel-pst share.
#pragma once

#include "cli/runner/scan_session.h"
#include "tests/support/recording_views.h"

namespace korvel::testing {

using runner::scan_session;

} // namespace korvel::testing
