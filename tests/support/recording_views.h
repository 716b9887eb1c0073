// The tests know the recording views by their test-side names; the class
// itself lives with the runner korvel-probe and korvel-pst share.
#pragma once

#include "cli/runner/recording_views.h"

namespace korvel::testing {

using runner::narrow;
using runner::recorded_message;
using runner::recorded_row;
using runner::recorded_rows;
using runner::recorded_tree_item;
using runner::recording_views;
using runner::recovered_tree_image;

} // namespace korvel::testing
