#include "cli/interrupt.h"

#include <signal.h>

namespace korvel::cli {
namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool> *>::is_always_lock_free);

std::atomic<std::atomic<bool> *> watched{nullptr};
volatile sig_atomic_t arrived = 0;

extern "C" void on_interrupt(int)
{
    arrived = 1;
    if (std::atomic<bool> *stop = watched.load()) {
        stop->store(true);
    }
}

} // namespace

void watch_interrupts(std::atomic<bool> *stop)
{
    watched.store(stop);
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // The second signal takes the default action: a user pressing Ctrl-C
    // again means it.
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interrupted()
{
    return arrived != 0;
}

} // namespace korvel::cli
