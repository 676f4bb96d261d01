#include "model/haplotype_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "model/input_error.h"
#include "model/input_file.h"
#include "model/data_warnings.h"
#include "model/number_syntax.h"

namespace orvane {

namespace {

constexpr size_t kStatusesShown = 6;

bool isSeparator(char c) { return c == ' ' || c == ',' || c == '\t'; }

// One line of a text file, without its line break and without a carriage
// return before it. False at the end of the file.
class LineReader {
public:
    LineReader(std::FILE* file, const std::string& fileName) : file_(file), fileName_(fileName) {}
    ~LineReader() { std::free(buffer_); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool next(std::string_view& line) {
        errno = 0;
        const ssize_t length = ::getline(&buffer_, &capacity_, file_);
        // A line that a failed read cut short is no line.
        if (length < 0 || std::ferror(file_)) {
            if (std::ferror(file_)) {
                if (errno == EBADMSG) {
                    throw InputError(fileName_, 0,
                                     "cannot read: the compressed data are damaged or cut short; "
                                     "check the file with gzip -t");
                }
                throw InputError(fileName_, 0, std::string("cannot read (") + std::strerror(errno) + ")");
            }
            return false;
        }
        ++number_;
        size_t size = static_cast<size_t>(length);
        if (size > 0 && buffer_[size - 1] == '\n') --size;
        if (size > 0 && buffer_[size - 1] == '\r') --size;
        line = std::string_view(buffer_, size);
        return true;
    }
    long number() const { return number_; }

private:
    std::FILE* file_;
    const std::string& fileName_;
    char* buffer_ = nullptr;
    size_t capacity_ = 0;
    long number_ = 0;
};

std::string quoted(std::string_view token) {
    constexpr size_t kShown = 40;
    if (token.size() <= kShown) return "'" + std::string(token) + "'";
    return "'" + std::string(token.substr(0, kShown)) + "...'";
}

// Plain or gzip-compressed alike.
std::FILE* openForReading(const std::string& path, const char* what) { return openInputFile(path, what); }

struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

// Room for the alleles of a file of lines like its first haplotype line, so
// that the array is not copied as it grows; never more than the file could
// hold (a code and a separator take two bytes at least).
void reserveAlleles(AnalysisState& state, std::FILE* data, size_t lineLength, size_t markers) {
    struct stat about;
    if (fstat(fileno(data), &about) != 0 || !S_ISREG(about.st_mode) || about.st_size <= 0) return;
    const size_t bytes = static_cast<size_t>(about.st_size);
    const size_t lines = bytes / (lineLength + 1) + 1;
    try {
        state.alleles.reserve(std::min(bytes / 2, lines * markers));
    } catch (const std::bad_alloc&) {
        // Only a head start: the array grows as it is read.
    }
}

// A line whose alleles are single digits with one separator between them, as
// the converter writes them, is read without splitting it into fields: its
// identifier, status and codes are those the splitter would find. False for
// any other line (or `markers` 0, before the first line has set it).
bool splitDigitLine(std::string_view line, size_t markers, std::string_view& identifier,
                    std::string_view& status, std::vector<int8_t>& codes) {
    size_t at = 0;
    const auto field = [&](std::string_view& out) {
        while (at < line.size() && isSeparator(line[at])) ++at;
        const size_t start = at;
        while (at < line.size() && !isSeparator(line[at])) ++at;
        out = line.substr(start, at - start);
        return at > start;
    };
    if (markers == 0 || !field(identifier) || !field(status)) return false;
    // One separator after the status, then digit, separator, digit ... digit.
    const std::string_view rest = line.substr(std::min(at + 1, line.size()));
    if (rest.size() != 2 * markers - 1) return false;
    codes.resize(markers);
    bool simple = true;
    for (size_t k = 0; k < markers; ++k) {
        const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(rest[2 * k])) - '0';
        simple &= digit <= 9;
        codes[k] = static_cast<int8_t>(digit);
    }
    for (size_t k = 1; k < markers; ++k) simple &= isSeparator(rest[2 * k - 1]);
    return simple;
}

}  // namespace

void splitFields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && isSeparator(line[at])) ++at;
        const size_t start = at;
        while (at < line.size() && !isSeparator(line[at])) ++at;
        if (at > start) fields.push_back(line.substr(start, at - start));
    }
}

void readHaplotypeFile(AnalysisState& state, std::FILE* data, const std::string& fileName,
                       Warnings* warnings) {
    LineReader lines(data, fileName);
    std::string_view line;
    lines.next(line);  // the header line is skipped, whatever it holds

    state.haplotypes.clear();
    state.alleles.clear();
    state.nHaplotypes = 0;
    state.nMarkers = 0;
    state.nAffected = 0;
    state.nUnaffected = 0;

    std::vector<std::string_view> fields;
    std::vector<int8_t> digitCodes;
    std::vector<std::string> statuses;  // the first few distinct status tokens
    long firstLine = 0;
    size_t markers = 0;
    bool more = false;
    while ((more = lines.next(line)) && !line.empty()) {
        const long number = lines.number();
        std::string_view identifier;
        std::string_view status;
        const bool digits = splitDigitLine(line, markers, identifier, status, digitCodes);
        if (!digits) {
            splitFields(line, fields);
            if (fields.size() < 2) {
                throw InputError(fileName, number,
                                 std::string("expected an identifier and a ") +
                                     (state.qtlMode ? "trait value" : "status") + ", found " +
                                     std::to_string(fields.size()) + " field" +
                                     (fields.size() == 1 ? "" : "s"));
            }
            identifier = fields[0];
            status = fields[1];
        }
        const size_t count = digits ? markers : fields.size() - 2;
        if (firstLine == 0) {
            if (count == 0) throw InputError(fileName, number, "the first haplotype line has no allele");
            firstLine = number;
            markers = count;
        } else if (count != markers) {
            throw InputError(fileName, number,
                             std::to_string(count) + " alleles, expected " + std::to_string(markers) +
                                 " as on line " + std::to_string(firstLine));
        }

        HaplotypeRecord record;
        bool fits = false;
        const size_t idLength = scanInteger(identifier, record.identifier, fits);
        if (idLength == 0) {
            throw InputError(fileName, number,
                             "identifier " + quoted(identifier) + " does not begin with an integer");
        }
        if (!fits) {
            throw InputError(fileName, number,
                             "identifier " + quoted(identifier) + " is outside the 32-bit integer range");
        }
        if (state.qtlMode) {
            float trait = 0.0f;
            if (!parseWholeFloat(status, trait)) {
                throw InputError(fileName, number,
                                 "trait value " + quoted(status) + " is not a finite decimal number");
            }
            record.trait = static_cast<double>(trait);
        } else {
            if (status[0] == 'a') {
                record.status = 1;
                ++state.nAffected;
            } else {
                ++state.nUnaffected;
            }
            if (warnings != nullptr && statuses.size() < kStatusesShown &&
                std::find(statuses.begin(), statuses.end(), status) == statuses.end()) {
                statuses.emplace_back(status);
            }
        }
        if (firstLine == number) reserveAlleles(state, data, line.size(), markers);
        if (digits) state.alleles.appendBytes(digitCodes.data(), markers);
        for (size_t k = 0; !digits && k < count; ++k) {
            const std::string_view token = fields[k + 2];
            int32_t code = 0;
            // Most codes are one digit.
            if (token.size() == 1 && token[0] >= '0' && token[0] <= '9') {
                code = token[0] - '0';
            } else if (!parseWholeInteger(token, code)) {
                throw InputError(fileName, number,
                                 "allele " + quoted(fields[k + 2]) + " of marker " +
                                     std::to_string(k + 1) + " is not a 32-bit integer");
            }
            state.alleles.push_back(code);
        }
        state.haplotypes.push_back(record);
        ++state.nHaplotypes;
    }
    if (state.nHaplotypes == 0) throw InputError(fileName, 2, "no haplotype line after the header");
    state.nMarkers = static_cast<int32_t>(markers);
    if (warnings == nullptr) return;
    if (more) {
        // The data end at the first empty line; say what that leaves unread.
        const long emptyLine = lines.number();
        long unread = 0;
        long firstUnread = 0;
        while (lines.next(line)) {
            if (line.find_first_not_of(" ,\t") == std::string_view::npos) continue;
            if (firstUnread == 0) firstUnread = lines.number();
            ++unread;
        }
        if (unread > 0) warnAboutUnreadLines(fileName, emptyLine, firstUnread, unread, *warnings);
    }
    if (!state.qtlMode) warnAboutStatuses(state, statuses, fileName, *warnings);
}

void loadHaplotypeFile(AnalysisState& state, const std::string& path, Warnings* warnings) {
    std::FILE* file = openForReading(path, "data file");
    FileCloser closer{file};
    readHaplotypeFile(state, file, path, warnings);
}

void readMarkerDistances(AnalysisState& state, const std::string* path, Warnings* warnings) {
    const size_t gaps = state.nMarkers > 0 ? static_cast<size_t>(state.nMarkers - 1) : 0;
    if (path == nullptr) {
        state.markerDistances.assign(gaps, 0.0001);
        return;
    }
    state.markerDistances.assign(gaps, 0.0);
    std::FILE* file = openForReading(*path, "distance file");
    FileCloser closer{file};
    LineReader lines(file, *path);
    std::string_view line;
    std::vector<std::string_view> fields;
    if (lines.next(line)) splitFields(line, fields);
    if (warnings != nullptr) warnAboutDistanceCount(*path, fields.size(), gaps, *warnings);
    for (size_t k = 0; k < gaps && k < fields.size(); ++k) {
        float value = 0.0f;
        if (!parseWholeFloat(fields[k], value)) {
            throw InputError(*path, 1, "distance " + std::to_string(k + 1) + " " + quoted(fields[k]) +
                                           " is not a finite decimal number");
        }
        if (value < 0.0f) {
            throw InputError(*path, 1, "distance " + std::to_string(k + 1) + " " + quoted(fields[k]) +
                                           " is negative");
        }
        state.markerDistances[k] = static_cast<double>(value) * 0.01;
    }
}

}  // namespace orvane
