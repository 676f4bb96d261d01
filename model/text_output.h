// Text output of a run: numbers in the tool's notation and files whose every
// write, flush and close is checked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace orvane {

// A real in "%g" notation (six significant digits, C locale); "-0" for negative
// zero; "nan", "inf", "-inf" for non-finite values (never "-nan").
void appendReal(std::string& out, double value);
void appendInt(std::string& out, int64_t value);
std::string formatReal(double value);

// A text file written through a buffer that reaches the disk only at flush().
// Text written since the last flush is not on disk when the process ends
// abnormally, which keeps partial lines out of the files. A failed write, flush
// or close throws OutputError naming the file.
class OutputFile {
public:
    enum class Mode { Truncate, Append };
    OutputFile(std::string path, Mode mode);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    OutputFile& operator<<(std::string_view text) {
        buffer_.append(text.data(), text.size());
        return *this;
    }
    OutputFile& operator<<(char c) {
        buffer_.push_back(c);
        return *this;
    }
    OutputFile& operator<<(int32_t value) {
        appendInt(buffer_, value);
        return *this;
    }
    OutputFile& operator<<(int64_t value) {
        appendInt(buffer_, value);
        return *this;
    }
    OutputFile& operator<<(double value) {
        appendReal(buffer_, value);
        return *this;
    }
    void flush();
    void close();
    const std::string& path() const { return path_; }

private:
    [[noreturn]] void fail() const;
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string buffer_;
};

}  // namespace orvane
