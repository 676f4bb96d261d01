// Errors that end a run with a one-line message: input errors (status 2) and
// output or resource errors (status 3). Only the entry point catches them.
#pragma once

#include <stdexcept>
#include <string>

namespace orvane {

class InputError : public std::runtime_error {
public:
    // line 0: the message names no line.
    InputError(std::string file, long line, const std::string& what)
        : std::runtime_error(what), file_(std::move(file)), line_(line) {}
    const std::string& file() const { return file_; }
    long line() const { return line_; }
    // "FILE:LINE: WHAT", or "FILE: WHAT" when no line applies.
    std::string describe() const {
        std::string text = file_;
        if (line_ > 0) text += ":" + std::to_string(line_);
        return text + ": " + what();
    }

private:
    std::string file_;
    long line_;
};

class OutputError : public std::runtime_error {
public:
    explicit OutputError(const std::string& what) : std::runtime_error(what) {}
};

// Memory the run needs and cannot get; ends the run like an output error.
class ResourceError : public OutputError {
public:
    using OutputError::OutputError;
};

}  // namespace orvane
