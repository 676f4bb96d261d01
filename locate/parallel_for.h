// Independent jobs spread over threads that take the next job as they finish one.
#pragma once

#include <cstdint>
#include <functional>

namespace orvane {

// Runs job(index, worker) for every index in 0 .. count - 1 on up to `threads`
// threads; worker (0 .. threads - 1) names the thread, so callers can give each
// its own scratch. The calling thread is worker 0; a thread the system refuses
// only means fewer workers. The first exception a job throws stops the handing
// out of jobs and is rethrown here once every thread has stopped.
void parallelFor(int threads, int32_t count, const std::function<void(int32_t, int)>& job);

}  // namespace orvane
