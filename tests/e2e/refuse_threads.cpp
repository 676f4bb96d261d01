// Stands in for pthread_create, loaded with LD_PRELOAD: lets the first
// REFUSE_THREADS_AFTER threads of the process start and refuses every later one,
// as a system at its thread limit does.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

std::atomic<long> started{0};

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    const char* allowed = std::getenv("REFUSE_THREADS_AFTER");
    if (started.fetch_add(1) >= (allowed ? std::atol(allowed) : 0)) return EAGAIN;
    static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return real(thread, attributes, start, argument);
}
