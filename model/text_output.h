// Text output of a run: numbers in the tool's notation and files whose every
// write, flush and close is checked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace orvane {

// A real in "%g" notation (six significant digits, C locale); "-0" for negative
// zero; "nan", "inf", "-inf" for non-finite values (never "-nan").
void appendReal(std::string& out, double value);
void appendInt(std::string& out, int64_t value);
std::string formatReal(double value);

// Text assembled in memory, with the tool's number notation.
class TextBuffer {
public:
    TextBuffer& operator<<(std::string_view text) {
        buffer_.append(text.data(), text.size());
        return *this;
    }
    TextBuffer& operator<<(char c) {
        buffer_.push_back(c);
        return *this;
    }
    TextBuffer& operator<<(int32_t value) {
        appendInt(buffer_, value);
        return *this;
    }
    TextBuffer& operator<<(int64_t value) {
        appendInt(buffer_, value);
        return *this;
    }
    TextBuffer& operator<<(double value) {
        appendReal(buffer_, value);
        return *this;
    }
    const std::string& text() const { return buffer_; }
    void clear() { buffer_.clear(); }
    // Gives the memory back. (Assigning an empty buffer would not: a moved-in
    // short string keeps the old allocation.)
    void release() { std::string().swap(buffer_); }

protected:
    std::string buffer_;
};

// A text file written through the buffer, which reaches the disk only at
// flush(). Text written since the last flush is not on disk when the run stops
// early, which keeps partial lines out of the files. A failed write, flush or
// close throws OutputError naming the file.
class OutputFile : public TextBuffer {
public:
    enum class Mode { Truncate, Append };
    OutputFile(std::string path, Mode mode);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void flush();
    void close();
    const std::string& path() const { return path_; }
    // Every later write to the disk holds `lock`, so that whoever else takes it
    // knows no write is under way (an interrupted run puts the file back).
    void guardWrites(std::mutex& lock) { guard_ = &lock; }

private:
    [[noreturn]] void fail() const;
    void flushHeld();
    std::string path_;
    std::FILE* file_ = nullptr;
    std::mutex* guard_ = nullptr;
};

}  // namespace orvane
