// Interrupts (SIGINT, SIGTERM, SIGHUP) end a run without leaving half a block
// in the result file: the file is put back to its length before the run, or
// removed when the run created it, and the process exits with 128 + the signal.
//
// The signals are blocked in every thread and taken by one thread of their own
// (sigwait), so the restoring runs as ordinary code rather than in a signal
// handler. Every write to the result file holds outputLock(), and the restoring
// thread takes it and exits while holding it, so no write can land after the
// file was put back. "output" is left as it is.
#pragma once

#include <mutex>
#include <string>

namespace orvane::interrupts {

// Call first in main, before any other thread starts. When the system refuses
// the thread, the signals keep their default action (the run just ends).
void start();

// The result file the run will write, once known: an interrupt before the run
// opens it says the file is as it was.
void nameResultFile(const std::string& path);

// The result file of the run; call with outputLock() held, before the file is
// opened, so that its length before the run is known.
void watchResultFile(const std::string& path);

// Another file the run appends to (the run record), put back with the result
// file; the same rules.
void watchFile(const std::string& path);
// Held around every write to the result file.
std::mutex& outputLock();

// The outputs are complete: a signal from now on no longer undoes them.
void finish();

}  // namespace orvane::interrupts
