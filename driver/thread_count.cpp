#include "driver/thread_count.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace orvane {

bool isThreadCount(const char* text) {
    if (text == nullptr || *text == '\0' || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && errno != ERANGE && value >= 1;
}

ThreadCount chooseThreadCount(int affinityProcessors, const char* requested) {
    ThreadCount count;
    count.threads = std::max(1, affinityProcessors);
    if (requested == nullptr || *requested == '\0') return count;
    if (!isThreadCount(requested)) {
        count.warning = std::string("ORVANE_THREADS is '") + requested +
                        "', not a positive whole number; it is ignored and the run uses " +
                        std::to_string(count.threads) + " thread(s), its processors";
        return count;
    }
    const long value = std::strtol(requested, nullptr, 10);
    // More threads than processors would only oversubscribe them.
    count.threads = static_cast<int>(std::min<long>(value, count.threads));
    return count;
}

int affinityProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

}  // namespace orvane
