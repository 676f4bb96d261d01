#include "locate/parallel_for.h"

#include "model/worker_threads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace orvane {

void parallelFor(int threads, int32_t count, const std::function<void(int32_t, int)>& job) {
    std::atomic<int32_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorMutex;
    const auto work = [&](int worker) {
        for (;;) {
            if (failed.load()) return;
            const int32_t index = next.fetch_add(1);
            if (index >= count) return;
            try {
                job(index, worker);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error) error = std::current_exception();
                failed.store(true);
                return;
            }
        }
    };
    const int helpersWanted = std::max(0, std::min<int32_t>(threads, count) - 1);
    std::vector<std::thread> helpers = startWorkers(helpersWanted, [&](int t) { work(t + 1); });
    work(0);
    for (std::thread& helper : helpers) helper.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace orvane
