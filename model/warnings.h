// Warnings: what the inputs or a run hold that the formats accept but that is
// probably not what the user meant, or that makes the result mean little. The
// readers collect theirs and the run prints them once every input has been read
// and checked, so a run that stops on an input error prints its one error line
// alone. Each is one line, printed once however many lines or windows it concerns.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvane {

class Warnings {
public:
    // "FILE:LINE: WHAT"; line 0 leaves the line out, an empty file both.
    void add(const std::string& file, long line, const std::string& what);
    // Another collection's, after these.
    void append(const Warnings& more);
    const std::vector<std::string>& messages() const { return messages_; }
    // Each as one line "PROGRAM: warning: ..." (or, where warnings are taken
    // as errors, "PROGRAM: error: ...").
    void print(std::FILE* out, const char* program = "orvane", const char* kind = "warning") const;

private:
    std::vector<std::string> messages_;
};

// A token as a warning quotes it (long ones cut short).
std::string quoteToken(const std::string& token);

}  // namespace orvane
