// Starting worker threads when the system may refuse some: every worker can do
// every task, so a refused thread (a process at its thread limit) only means
// fewer of them, never an error.
#pragma once

#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace orvane {

// Starts `body(0)`, `body(1)`, ... on up to `count` new threads and returns
// those the system started (possibly none); the caller joins them.
inline std::vector<std::thread> startWorkers(int count, const std::function<void(int)>& body) {
    std::vector<std::thread> workers;
    for (int t = 0; t < count; ++t) {
        try {
            workers.emplace_back(body, t);
        } catch (const std::system_error&) {
            break;
        }
    }
    return workers;
}

}  // namespace orvane
