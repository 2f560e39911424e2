#include "support/ThreadStarts.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<std::uint64_t> started{0};

using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

bool fromGLib(void* caller) {
    Dl_info info{};
    return dladdr(caller, &info) != 0 && info.dli_fname &&
           std::strstr(info.dli_fname, "libglib-2.0") != nullptr;
}

}  // namespace

// Linked into a test program, this stands before the C library's for every caller in the
// process; it counts and passes on.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    const int result = next(thread, attributes, routine, argument);
    if (result == 0 && !fromGLib(__builtin_return_address(0)))
        started.fetch_add(1, std::memory_order_relaxed);
    return result;
}

namespace velto {

std::uint64_t threadsStarted() {
    return started.load(std::memory_order_relaxed);
}

}  // namespace velto
