// Ctrl-C (and a plain kill) become the window's Stop: the scan or save under
// way ends at its next check and leaves nothing half-written. A second Ctrl-C
// ends the process at once.
#pragma once

#include <atomic>

namespace korvel::cli {

// From now on SIGINT and SIGTERM set stop (which must outlive the watch, or
// be replaced by the next call).
void watch_interrupts(std::atomic<bool> *stop);

// True once SIGINT or SIGTERM arrived.
bool interrupted();

} // namespace korvel::cli
