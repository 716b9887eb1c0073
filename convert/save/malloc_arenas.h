// glibc's malloc arenas, as the save's threads use them. Each thread that
// allocates gets an arena of its own, which keeps what was freed in it; these
// hand it back or share arenas. Only glibc's own allocator has arenas: under
// a sanitizer's, a call would wake glibc's malloc halfway in that thread, and
// glibc aborts when the thread ends, so both do nothing there.
#pragma once

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVEL_GLIBC_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                       \
    __has_feature(memory_sanitizer)
#define KORVEL_GLIBC_MALLOC 0
#endif
#endif
#ifndef KORVEL_GLIBC_MALLOC
#define KORVEL_GLIBC_MALLOC 1
#endif

namespace korvel::convert {

// Hands what the arenas keep free back to the system.
inline void trim_malloc_arenas()
{
#if KORVEL_GLIBC_MALLOC
    ::malloc_trim(0);
#endif
}

// From now on, threads share at most two arenas.
inline void share_malloc_arenas()
{
#if KORVEL_GLIBC_MALLOC
    ::mallopt(M_ARENA_MAX, 2);
#endif
}

} // namespace korvel::convert
