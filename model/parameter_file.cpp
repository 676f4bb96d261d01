#include "model/parameter_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/input_error.h"
#include "model/number_syntax.h"
#include "model/text_output.h"

namespace orvane {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads tokens the way a text stream extracts them: white space is skipped, a
// number takes the longest prefix that forms one, and whatever follows it in the
// same run of characters is what the next read sees.
class TokenReader {
public:
    explicit TokenReader(std::string_view text) : text_(text) {}

    bool label() {
        if (!skipSpace()) return false;
        while (at_ < text_.size() && !isSpace(text_[at_])) ++at_;
        return true;
    }

    bool integer(int32_t& value) {
        if (!skipSpace()) return false;
        int32_t parsed = 0;
        bool fits = false;
        const size_t length = scanInteger(text_.substr(at_), parsed, fits);
        if (length == 0 || !fits) return false;
        at_ += length;
        value = parsed;
        return true;
    }

    bool real(double& value) {
        size_t length = 0;
        if (!realText(length)) return false;
        const std::string number(text_.substr(at_, length));
        double parsed = 0.0;
        if (!parseWholeDouble(number, parsed)) return false;
        at_ += length;
        value = parsed;
        return true;
    }

    bool singleReal(float& value) {
        size_t length = 0;
        if (!realText(length)) return false;
        const std::string number(text_.substr(at_, length));
        float parsed = 0.0f;
        if (!parseWholeFloat(number, parsed)) return false;
        at_ += length;
        value = parsed;
        return true;
    }

    // Line (1-based) of the token the last successful read took.
    long line() const { return tokenLine_; }

private:
    bool skipSpace() {
        while (at_ < text_.size() && isSpace(text_[at_])) {
            if (text_[at_] == '\n') ++line_;
            ++at_;
        }
        tokenLine_ = line_;
        return at_ < text_.size();
    }
    bool realText(size_t& length) {
        if (!skipSpace()) return false;
        length = scanDecimalReal(text_.substr(at_));
        return length > 0;
    }

    std::string_view text_;
    size_t at_ = 0;
    long line_ = 1;
    long tokenLine_ = 1;
};

// Number of distance parameters that follow each distance type.
int parameterCount(int32_t distanceType) {
    switch (distanceType) {
        case 1: case 2: case 6: return 2;
        case 3: return 1;
        case 4: case 5: return 4;
        default: return 0;
    }
}

struct SettingLines {
    long windowSize = 0;
    long distanceType = 0;
    long params[4] = {0, 0, 0, 0};
};

// Reads the sequence; returns at the first token that cannot be read.
void readSettings(AnalysisState& state, TokenReader& in, SettingLines& lines) {
    int32_t epsilonMode = 0;
    if (!in.label() || !in.integer(epsilonMode)) return;
    if (epsilonMode == 1 && !in.real(state.epsilon)) return;
    if (epsilonMode == 2 && !in.real(state.epsilonFraction)) return;
    if (!in.label() || !in.real(state.minPtsQuantile)) return;
    if (!in.label() || !in.integer(state.windowSize)) return;
    lines.windowSize = in.line();
    if (!in.label() || !in.integer(state.distanceType)) return;
    lines.distanceType = in.line();
    const int count = parameterCount(state.distanceType);
    for (int k = 0; k < count; ++k) {
        if (!in.real(state.distanceParams[k])) return;
        lines.params[k] = in.line();
    }
    if (!in.label() || !in.integer(state.nPermutations)) return;
    if (!in.label() || !in.singleReal(state.reportThreshold)) return;
}

std::string describeParam(int k, double value) {
    return "p" + std::to_string(k + 1) + " = " + formatReal(value);
}

void checkSettings(const AnalysisState& state, const SettingLines& lines,
                   const std::string& fileName) {
    if (state.windowSize < 1) {
        throw InputError(fileName, lines.windowSize,
                         "windowSize " + std::to_string(state.windowSize) +
                             " must be at least 1");
    }
    const double* p = state.distanceParams;
    const auto paramLine = [&](int k) { return lines.params[k] ? lines.params[k] : lines.distanceType; };
    if (state.distanceType == 3 && p[0] != 1.0 && p[0] != 2.0 && p[0] != 3.0) {
        throw InputError(fileName, paramLine(0),
                         "distanceType 3 needs p1 = 1, 2 or 3 (Hamming, shared run or both), not " +
                             formatReal(p[0]));
    }
    int negative = -1;
    if ((state.distanceType == 1 || state.distanceType == 4) && p[1] < 0) negative = 1;
    if (state.distanceType == 4 && negative < 0 && p[3] < 0) negative = 3;
    if (state.distanceType == 6 && p[0] < 0) negative = 0;
    if (state.distanceType == 6 && negative < 0 && p[1] < 0) negative = 1;
    if (negative >= 0) {
        throw InputError(fileName, paramLine(negative),
                         "distanceType " + std::to_string(state.distanceType) + " weight " +
                             describeParam(negative, p[negative]) + " must not be negative");
    }
}

}  // namespace

void readParameterFile(AnalysisState& state, std::string_view text, const std::string& fileName) {
    TokenReader in(text);
    SettingLines lines;
    readSettings(state, in, lines);
    checkSettings(state, lines, fileName);
}

bool readWholeFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    text.clear();
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    const int savedErrno = errno;
    std::fclose(file);
    if (failed) errno = savedErrno;
    return !failed;
}

void loadParameterFile(AnalysisState& state, const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) {
        throw InputError(path, 0, std::string("cannot read the parameter file (") +
                                      std::strerror(errno) + ")");
    }
    readParameterFile(state, text, path);
}

}  // namespace orvane
