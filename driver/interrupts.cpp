#include "driver/interrupts.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace orvane::interrupts {

namespace {

std::mutex lock;
// A file the run appends to, with what it was before.
struct Watched {
    std::string path;
    bool existed = false;
    off_t lengthBefore = 0;
};

// Guarded by `lock`.
std::string resultPath;
std::vector<Watched> watched;
bool finished = false;

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Puts the watched files back; returns whether they are as they were.
bool restoreResultFile() {
    bool restored = true;
    for (const Watched& file : watched) {
        if (file.existed) {
            restored = ::truncate(file.path.c_str(), file.lengthBefore) == 0 && restored;
        } else {
            restored = (::unlink(file.path.c_str()) == 0 || errno == ENOENT) && restored;
        }
    }
    return restored;
}

Watched aboutFile(const std::string& path) {
    struct stat about;
    Watched file;
    file.path = path;
    file.existed = ::stat(path.c_str(), &about) == 0;
    file.lengthBefore = file.existed ? about.st_size : 0;
    return file;
}

[[noreturn]] void stopRun(int signal) {
    const bool restored = restoreResultFile();
    // A progress line may be on the terminal: start from a clean line.
    if (isatty(STDERR_FILENO) == 1) std::fputs("\r\033[K", stderr);
    if (resultPath.empty()) {
        std::fputs("orvane: interrupted before the run began\n", stderr);
    } else if (restored) {
        std::fprintf(stderr, "orvane: interrupted: %s is as it was before the run\n", resultPath.c_str());
    } else {
        std::fprintf(stderr, "orvane: interrupted: %s could not be put back to its state before the run\n",
                     resultPath.c_str());
    }
    std::fflush(stderr);
    _exit(128 + signal);
}

void waitForSignals() {
    const sigset_t set = stopSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        std::unique_lock<std::mutex> held(lock);
        // Once the outputs are complete there is nothing to undo; the run is ending.
        if (finished) continue;
        stopRun(signal);  // exits with the lock held: no write can follow
    }
}

}  // namespace

void start() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
        std::thread(waitForSignals).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

void nameResultFile(const std::string& path) {
    std::lock_guard<std::mutex> held(lock);
    resultPath = path;
}

void watchResultFile(const std::string& path) {
    // A new run of the process (the Python package runs many) watches its own files.
    resultPath = path;
    finished = false;
    watched.clear();
    watched.push_back(aboutFile(path));
}

void watchFile(const std::string& path) { watched.push_back(aboutFile(path)); }

std::mutex& outputLock() { return lock; }

void finish() {
    std::lock_guard<std::mutex> held(lock);
    finished = true;
}

}  // namespace orvane::interrupts
