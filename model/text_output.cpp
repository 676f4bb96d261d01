#include "model/text_output.h"

#include <charconv>
#include <cmath>

#include "model/input_error.h"

namespace orvane {

void appendReal(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "nan";
        return;
    }
    // Whole numbers below 10^6 read the same in "%g" as integers: the common
    // case of member lines, taken without the formatted-output machinery.
    if (value == std::trunc(value) && std::fabs(value) < 1e6 && !(value == 0.0 && std::signbit(value))) {
        appendInt(out, static_cast<int64_t>(value));
        return;
    }
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%g", value);
    out.append(text, static_cast<size_t>(length));
}

void appendInt(std::string& out, int64_t value) {
    char text[24];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    out.append(text, static_cast<size_t>(end.ptr - text));
}

std::string formatReal(double value) {
    std::string text;
    appendReal(text, value);
    return text;
}

OutputFile::OutputFile(std::string path, Mode mode) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), mode == Mode::Append ? "a" : "w");
    if (file_ == nullptr) fail();
}

OutputFile::~OutputFile() {
    if (file_ == nullptr) return;
    if (guard_ == nullptr) {
        std::fclose(file_);
        return;
    }
    std::lock_guard<std::mutex> held(*guard_);
    std::fclose(file_);
}

void OutputFile::fail() const { throw OutputError("cannot write " + path_); }

void OutputFile::flush() {
    if (guard_ == nullptr) {
        flushHeld();
        return;
    }
    std::lock_guard<std::mutex> held(*guard_);
    flushHeld();
}

void OutputFile::flushHeld() {
    if (file_ == nullptr) fail();
    if (!buffer_.empty()) {
        const size_t size = buffer_.size();
        const size_t written = std::fwrite(buffer_.data(), 1, size, file_);
        buffer_.clear();
        if (written != size) fail();
    }
    if (std::fflush(file_) != 0) fail();
}

void OutputFile::close() {
    std::unique_lock<std::mutex> held;
    if (guard_ != nullptr) held = std::unique_lock<std::mutex>(*guard_);
    flushHeld();
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) fail();
}

}  // namespace orvane
