#include "model/data_warnings.h"

#include <algorithm>
#include <cstdio>

#include "model/text_output.h"

namespace orvane {

namespace {

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

bool allOf(const std::vector<std::string>& tokens, std::initializer_list<const char*> allowed) {
    return std::all_of(tokens.begin(), tokens.end(), [&](const std::string& t) {
        return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return t == a; });
    });
}

// Why statuses like these give no affected (or no unaffected) haplotype.
std::string codingHint(const std::vector<std::string>& statuses) {
    if (allOf(statuses, {"0", "1", "2", "-9"})) {
        return "; they look like numeric coding (1/2 or 0/1): write 'a' for affected and 'u' for "
               "unaffected haplotypes";
    }
    for (const std::string& status : statuses) {
        const std::string low = lowered(status);
        if (low.rfind("case", 0) == 0 || low.rfind("control", 0) == 0) {
            return "; 'case' starts with 'c' and counts as unaffected: write 'a' (or 'affected') for "
                   "cases and 'u' for controls";
        }
        if (status[0] == 'A') {
            return "; an upper-case 'A' counts as unaffected: write a lower-case 'a' for affected "
                   "haplotypes";
        }
    }
    return "";
}

std::string listed(const std::vector<std::string>& tokens) {
    std::string text;
    for (const std::string& token : tokens) text += (text.empty() ? "" : ", ") + quoteToken(token);
    return text;
}

std::string percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * share);
    return text;
}

}  // namespace

void warnAboutUnreadLines(const std::string& fileName, long emptyLine, long firstUnread, long unread,
                          Warnings& warnings) {
    warnings.add(fileName, emptyLine,
                 "the data end at this empty line, so " + std::to_string(unread) +
                     " non-empty line(s) after it, from line " + std::to_string(firstUnread) +
                     ", are not read; remove the empty line to analyse them");
}

void warnAboutStatuses(const AnalysisState& state, const std::vector<std::string>& statuses,
                       const std::string& fileName, Warnings& warnings) {
    if (state.nAffected > 0 && state.nUnaffected > 0) return;
    const std::string none = state.nAffected == 0 ? "affected" : "unaffected";
    warnings.add(fileName, 0,
                 "no haplotype is " + none + " (of " + std::to_string(state.nHaplotypes) +
                     "; statuses seen: " + listed(statuses) +
                     "), so no cluster or marker can show association; a status that starts with a "
                     "lower-case 'a' is affected, any other unaffected" +
                     (state.nAffected == 0 ? codingHint(statuses) : ""));
}

void warnAboutTraits(const AnalysisState& state, const std::string& fileName, Warnings& warnings) {
    if (state.haplotypes.empty()) return;
    const double first = state.haplotypes.front().trait;
    for (const HaplotypeRecord& record : state.haplotypes) {
        if (record.trait != first) return;
    }
    warnings.add(fileName, 0,
                 "every trait value is " + formatReal(first) +
                     ", so no cluster or marker can show association; check the trait column");
}

void warnAboutMissingAlleles(const AnalysisState& state, const std::string& fileName,
                             Warnings& warnings) {
    if (state.qtlMode || state.nHaplotypes == 0 || state.nMarkers == 0) return;
    std::vector<int64_t> missing(static_cast<size_t>(state.nMarkers), 0);
    state.alleles.visit([&](const auto* row) {
        for (int32_t h = 0; h < state.nHaplotypes; ++h, row += state.nMarkers) {
            for (int32_t k = 0; k < state.nMarkers; ++k) missing[static_cast<size_t>(k)] += row[k] == 0;
        }
    });
    const auto worst = std::max_element(missing.begin(), missing.end());
    const double share = static_cast<double>(*worst) / state.nHaplotypes;
    if (share <= kMissingShareWarning) return;
    const auto above = std::count_if(missing.begin(), missing.end(), [&](int64_t m) {
        return static_cast<double>(m) / state.nHaplotypes > kMissingShareWarning;
    });
    warnings.add(fileName, 0,
                 "marker " + std::to_string(worst - missing.begin()) + " (numbered from 0) has " +
                     percent(share) + " of its alleles missing, the most of any marker (" +
                     std::to_string(above) + " marker(s) above " + percent(kMissingShareWarning) +
                     "); single-gene mode fills each from the allele frequencies of the "
                     "haplotype's own case/control group, which inflates the scores and the "
                     "permutation p-values: phase or impute the data first");
}

void warnAboutDistanceCount(const std::string& fileName, size_t values, size_t gaps,
                            Warnings& warnings) {
    if (values < gaps) {
        warnings.add(fileName, 1,
                     std::to_string(values) + " distance(s) for the " + std::to_string(gaps) +
                         " gaps between the markers, so the last " + std::to_string(gaps - values) +
                         " gap(s) are 0 (markers at one position); give one distance in cM per gap");
    } else if (values > gaps) {
        warnings.add(fileName, 1,
                     std::to_string(values) + " distances for the " + std::to_string(gaps) +
                         " gaps between the markers; the last " + std::to_string(values - gaps) +
                         " are ignored; check that the distance file belongs to this data file");
    }
}

}  // namespace orvane
