#include "model/parameter_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "model/haplotype_file.h"
#include "model/input_error.h"
#include "model/number_syntax.h"
#include "model/parameter_warnings.h"
#include "model/text_output.h"
#include "model/warnings.h"

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

    // Line (1-based) of the token the last successful read took, or of the
    // token a failed read stopped at.
    long line() const { return tokenLine_; }

    // The whole token (up to white space) at which the last read began, and
    // the part of it that read did not take; both empty at the end of the text.
    std::string tokenAtLastRead() const { return std::string(text_.substr(tokenStart_, tokenEnd(tokenStart_) - tokenStart_)); }
    std::string restOfToken() const { return std::string(text_.substr(at_, tokenEnd(at_) - at_)); }
    bool atEnd() { return !skipSpace(); }

private:
    bool skipSpace() {
        while (at_ < text_.size() && isSpace(text_[at_])) {
            if (text_[at_] == '\n') ++line_;
            ++at_;
        }
        tokenLine_ = line_;
        tokenStart_ = at_;
        return at_ < text_.size();
    }
    size_t tokenEnd(size_t from) const {
        while (from < text_.size() && !isSpace(text_[from])) ++from;
        return from;
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
    size_t tokenStart_ = 0;
};

struct SettingLines {
    long windowSize = 0;
    long distanceType = 0;
    long params[4] = {0, 0, 0, 0};
};

// Reads the sequence; returns at the first token that cannot be read.
class SettingsReader {
public:
    SettingsReader(AnalysisState& state, TokenReader& in, SettingLines& lines, ReadNotes& notes)
        : state_(state), in_(in), lines_(lines), notes_(notes) {}

    void read() {
        int32_t epsilonMode = 0;
        if (!label("epsilon mode") || !integer("epsilon mode", epsilonMode)) return;
        notes_.epsilonMode = epsilonMode;
        notes_.epsilonModeRead = true;
        notes_.epsilonModeLine = in_.line();
        notes_.settingsRead.push_back("epsilonMode");
        if (epsilonMode == 1) {
            if (!real("epsilon", state_.epsilon)) return;
            notes_.settingsRead.push_back("epsilon");
        }
        if (epsilonMode == 2) {
            if (!real("epsilon", state_.epsilonFraction)) return;
            notes_.settingsRead.push_back("epsilonFraction");
        }
        notes_.epsilonLine = in_.line();
        if (!label("minPtsQuantile") || !real("minPtsQuantile", state_.minPtsQuantile)) return;
        notes_.minPtsQuantileLine = in_.line();
        notes_.settingsRead.push_back("minPtsQuantile");
        if (!label("windowSize") || !integer("windowSize", state_.windowSize)) return;
        lines_.windowSize = in_.line();
        notes_.windowSizeLine = in_.line();
        notes_.settingsRead.push_back("windowSize");
        if (!label("distanceType") || !integer("distanceType", state_.distanceType)) return;
        lines_.distanceType = in_.line();
        notes_.distanceTypeLine = in_.line();
        notes_.settingsRead.push_back("distanceType");
        static const char* const kParamNames[4] = {"distanceType p1", "distanceType p2",
                                                   "distanceType p3", "distanceType p4"};
        const int count = distanceParameterCount(state_.distanceType);
        for (int k = 0; k < count; ++k) {
            if (!real(kParamNames[k], state_.distanceParams[k])) return;
            lines_.params[k] = in_.line();
            notes_.settingsRead.push_back("distanceParam" + std::to_string(k + 1));
        }
        if (!label("permutations") || !integer("permutations", state_.nPermutations)) return;
        notes_.permutationsLine = in_.line();
        notes_.settingsRead.push_back("permutations");
        if (!label("reportThreshold") || !singleReal("reportThreshold", state_.reportThreshold)) return;
        notes_.settingsRead.push_back("reportThreshold");
        notes_.complete = true;
        if (!in_.atEnd()) {
            notes_.trailingToken = in_.tokenAtLastRead();
            notes_.trailingLine = in_.line();
        }
    }

private:
    bool label(const char* setting) {
        if (!check(in_.label(), setting)) return false;
        const std::string token = in_.tokenAtLastRead();
        if (notes_.firstLabel.empty() && notes_.settingsRead.empty()) notes_.firstLabel = token;
        if (notes_.equalsLabel.empty() && token.find('=') != std::string::npos) {
            notes_.equalsLabel = token;
            notes_.equalsLabelLine = in_.line();
        }
        return true;
    }
    bool integer(const char* setting, int32_t& value) {
        return check(in_.integer(value), setting) && whole(setting, true);
    }
    bool real(const char* setting, double& value) {
        return check(in_.real(value), setting) && whole(setting, false);
    }
    bool singleReal(const char* setting, float& value) {
        return check(in_.singleReal(value), setting) && whole(setting, false);
    }
    bool check(bool read, const char* setting) {
        if (read) return true;
        notes_.stoppedAt = setting;
        notes_.endedEarly = in_.atEnd();
        notes_.stopToken = in_.tokenAtLastRead();
        notes_.stopLine = in_.line();
        return false;
    }
    // Notes a value taken from only the start of its token; reading goes on.
    bool whole(const char* setting, bool wholeNumber) {
        std::string rest = in_.restOfToken();
        if (!rest.empty()) {
            notes_.partial.push_back({in_.line(), setting, in_.tokenAtLastRead(), std::move(rest), wholeNumber});
        }
        return true;
    }

    AnalysisState& state_;
    TokenReader& in_;
    SettingLines& lines_;
    ReadNotes& notes_;
};

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

namespace {

// True when every token of the text is a number: a distance file, say, given
// where the parameter file belongs.
bool holdsNoLabel(std::string_view text) {
    TokenReader in(text);
    double value = 0.0;
    while (!in.atEnd()) {
        if (!in.real(value) || !in.restOfToken().empty()) return false;
    }
    return true;
}

bool holdsContent(std::string_view text) {
    for (const char c : text) {
        if (!isSpace(c)) return true;
    }
    return false;
}

bool looksLikeComment(const std::string& token) {
    return !token.empty() && (token[0] == '#' || token[0] == ';' || token[0] == '%' || token[0] == '!' ||
                              token.compare(0, 2, "//") == 0 || token.compare(0, 2, "/*") == 0);
}

// A file with content from which not even the epsilon mode can be read would
// run every setting at its default: it is refused, saying why.
[[noreturn]] void refuseUnreadable(const ReadNotes& notes, std::string_view text, const std::string& fileName) {
    const std::string& first = notes.firstLabel;
    const std::string& stop = notes.stopToken;
    const std::string where = " on line " + std::to_string(notes.stopLine);
    std::string why;
    if (looksLikeComment(first)) {
        why = "it starts with a comment, " + quoteToken(first) + ", and the file takes no comments";
    } else if (first.find('=') != std::string::npos) {
        why = quoteToken(first) + " holds '=': labels and values are separated by blanks, not '='";
    } else if (stop.find('=') != std::string::npos) {
        why = quoteToken(stop) + where +
              " stands where the epsilon mode, 1 or 2, is expected: labels and values are separated by blanks, "
              "not '='";
    } else if (notes.endedEarly) {
        why = "it holds the label " + quoteToken(first) + " and no number after it";
    } else {
        why = quoteToken(stop) + where + " stands where the epsilon mode, 1 or 2, is expected";
    }
    std::string hint;
    if (looksLikeDataFile(text)) {
        hint = "; is this the data file? the order is -option DATAFILE PARAMFILE [DISTFILE]";
    } else if (holdsNoLabel(text)) {
        hint = "; is this the distance file? the order is -option DATAFILE PARAMFILE [DISTFILE]";
    }
    throw InputError(fileName, 0,
                     "not even the epsilon mode can be read, so every setting would keep its default: " + why +
                         "; give labels and values separated by blanks, in the order epsilon, minPtsQuantile, "
                         "windowSize, distanceType, permutations, reportThreshold, as in 'epsilon 2 0.3'" +
                         hint);
}

}  // namespace

bool looksLikeDataFile(std::string_view text) {
    constexpr int kLinesLooked = 50;
    size_t lineStart = text.find('\n');
    if (lineStart == std::string_view::npos) return false;
    ++lineStart;
    std::vector<std::string_view> fields;
    size_t alleles = 0;
    int lines = 0;
    while (lineStart < text.size() && lines < kLinesLooked) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lineStart = lineEnd + 1;
        if (line.empty()) break;
        splitFields(line, fields);
        int32_t code = 0;
        bool fits = false;
        if (fields.size() < 3 || scanInteger(fields[0], code, fits) == 0) return false;
        if (lines > 0 && fields.size() - 2 != alleles) return false;
        alleles = fields.size() - 2;
        for (size_t k = 2; k < fields.size(); ++k) {
            if (!parseWholeInteger(fields[k], code)) return false;
        }
        ++lines;
    }
    return lines > 0;
}

void readParameterFile(AnalysisState& state, std::string_view text, const std::string& fileName,
                       Warnings* warnings, ReadNotes* notesOut) {
    TokenReader in(text);
    SettingLines lines;
    ReadNotes notes;
    SettingsReader(state, in, lines, notes).read();
    if (!notes.epsilonModeRead && holdsContent(text)) refuseUnreadable(notes, text, fileName);
    try {
        checkSettings(state, lines, fileName);
    } catch (const InputError& error) {
        if (!holdsNoLabel(text)) throw;
        throw InputError(error.file(), error.line(),
                         std::string(error.what()) +
                             "; is this the distance file? the order is DATAFILE PARAMFILE [DISTFILE]");
    }
    if (warnings != nullptr) warnAboutSettings(state, notes, fileName, *warnings);
    if (notesOut != nullptr) *notesOut = std::move(notes);
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

void loadParameterFile(AnalysisState& state, const std::string& path, Warnings* warnings,
                       ReadNotes* notes) {
    std::string text;
    if (!readWholeFile(path, text)) {
        throw InputError(path, 0, std::string("cannot read the parameter file (") +
                                      std::strerror(errno) + ")");
    }
    readParameterFile(state, text, path, warnings, notes);
}

}  // namespace orvane
