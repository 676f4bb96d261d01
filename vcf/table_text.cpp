#include "table_text.h"

#include <algorithm>
#include <cctype>

namespace orvane {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \r\t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \r\t") - first + 1);
}

std::vector<std::string> splitFields(const std::string& line, bool byTab) {
    std::vector<std::string> fields;
    if (byTab) {
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(trimmed(line.substr(start, tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
    } else {
        size_t pos = 0;
        while ((pos = line.find_first_not_of(" \t\r", pos)) != std::string::npos) {
            const size_t end = line.find_first_of(" \t\r", pos);
            fields.push_back(line.substr(pos, end - pos));
            pos = end;
        }
    }
    return fields;
}

std::string lowerCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace orvane
