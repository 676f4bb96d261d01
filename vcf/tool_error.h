// The one error type of the converter. Each carries the exit status of its
// kind; only main() catches it and prints the single "orvane-vcf: error:" line.
#pragma once

#include <stdexcept>
#include <string>

namespace orvane {

// Exit statuses of orvane-vcf (also listed in --help and tools/README.md).
enum ExitStatus : int {
    kExitOk = 0,
    kExitUsage = 1,   // wrong command line
    kExitInput = 2,   // unreadable or invalid input file
    kExitOutput = 3,  // an output file could not be written
};

class ToolError : public std::runtime_error {
public:
    ToolError(ExitStatus status, const std::string& what)
        : std::runtime_error(what), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

inline ToolError usageError(const std::string& what) { return ToolError(kExitUsage, what); }
inline ToolError inputError(const std::string& what) { return ToolError(kExitInput, what); }
inline ToolError outputError(const std::string& what) { return ToolError(kExitOutput, what); }

}  // namespace orvane
