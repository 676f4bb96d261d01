#include "model/warnings.h"

namespace orvane {

void Warnings::add(const std::string& file, long line, const std::string& what) {
    std::string text;
    if (!file.empty()) {
        text = file;
        if (line > 0) text += ":" + std::to_string(line);
        text += ": ";
    }
    messages_.push_back(text + what);
}

void Warnings::append(const Warnings& more) {
    messages_.insert(messages_.end(), more.messages_.begin(), more.messages_.end());
}

void Warnings::print(std::FILE* out, const char* program, const char* kind) const {
    for (const std::string& message : messages_) {
        std::fprintf(out, "%s: %s: %s\n", program, kind, message.c_str());
    }
    std::fflush(out);
}

std::string quoteToken(const std::string& token) {
    constexpr size_t kShown = 40;
    if (token.size() <= kShown) return "'" + token + "'";
    return "'" + token.substr(0, kShown) + "...'";
}

}  // namespace orvane
