#include "cluster/pair_screen.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// Weights a mask of one side's agreeing steps earns: the match weight of every
// agreeing step, plus (when the centre agrees) the run weight of the steps before
// the side's first disagreement.
void fillSideTable(const double* match, const double* run, int32_t steps, double* table) {
    const size_t masks = size_t{1} << steps;
    for (int centre = 0; centre < 2; ++centre) {
        double* out = table + static_cast<size_t>(centre) * masks;
        for (size_t mask = 0; mask < masks; ++mask) {
            double sum = 0.0;
            bool inRun = centre == 1;
            for (int32_t s = 0; s < steps; ++s) {
                if ((mask >> s) & 1) {
                    sum += match[s];
                    if (inRun) sum += run[s];
                } else {
                    inRun = false;
                }
            }
            out[mask] = sum;
        }
    }
}

}  // namespace

bool PairScreen::prepare(const AnalysisState& state, const WindowWalk& walk,
                         const WindowPatterns& patterns) {
    const int32_t nRight = walk.nRight;
    const int32_t nLeft = walk.nLeft;
    if (nRight > kMaxSideSteps || nLeft > kMaxSideSteps || !std::isfinite(walk.total)) return false;
    const int32_t steps = nRight + nLeft;
    for (int32_t s = 0; s < steps; ++s) {
        if (!std::isfinite(walk.match[static_cast<size_t>(s)]) ||
            !std::isfinite(walk.run[static_cast<size_t>(s)]))
            return false;
    }

    // What the estimate sums: the distance is (denominator - shared) / denominator.
    std::vector<double> match(walk.match.begin(), walk.match.end());
    std::vector<double> run(walk.run.begin(), walk.run.end());
    centreWeight_[1] = 1.0;
    denominator_ = walk.total;
    if (walk.ldMeasure) {
        const double variant = walk.ldVariant;
        if (variant == 1.0) {
            std::fill(run.begin(), run.end(), 0.0);
        } else if (variant == 2.0) {
            // Without any LD weight the centre alone decides: left to the exact walk.
            if (walk.ldTotal == 0.0) return false;
            run = match;
            std::fill(match.begin(), match.end(), 0.0);
            centreWeight_[1] = 0.0;
            denominator_ = walk.ldTotal;
        } else if (variant == 3.0) {
            run = match;
            denominator_ = walk.total + walk.ldTotal;
        } else {
            return false;
        }
    }
    tenOverDenominator_ = 10.0 / denominator_;

    // Each walk step's codes numbered in order of appearance, so that a few bit
    // planes tell whether two patterns agree at every step at once. A pattern's
    // window is read in one go from its representative's row.
    const int32_t k = patterns.count;
    if (!state.alleles.visit([&](const auto* alleles) { return numberCodes(state, walk, patterns, alleles); })) {
        return false;
    }
    size_t maxCodes = 1;
    for (const std::vector<int32_t>& seen : distinct_) maxCodes = std::max(maxCodes, seen.size());
    planes_ = 1;
    while ((size_t{1} << planes_) < maxCodes) ++planes_;
    bits_.assign(static_cast<size_t>(k) * static_cast<size_t>(planes_), 0);
    for (int32_t p = 0; p < k; ++p) {
        uint32_t* planes = &bits_[static_cast<size_t>(p) * static_cast<size_t>(planes_)];
        const uint8_t* ids = &ids_[static_cast<size_t>(p) * static_cast<size_t>(steps)];
        for (int32_t s = 0; s < steps; ++s) {
            for (int b = 0; b < planes_; ++b) planes[b] |= static_cast<uint32_t>((ids[s] >> b) & 1) << s;
        }
    }

    // Each side in one or two segments; the walk's steps are the right side's,
    // then the left side's.
    segments_.clear();
    size_t tableSize = 0;
    for (const auto& [first, count] : {std::make_pair(0, nRight), std::make_pair(nRight, nLeft)}) {
        for (int32_t done = 0; done < count || (done == 0 && count == 0); done += kSegmentSteps) {
            Segment segment;
            segment.steps = std::min(kSegmentSteps, count - done);
            segment.shift = first + done;
            segment.mask = (uint32_t{1} << segment.steps) - 1;
            segment.after = done > 0;
            segment.afterShift = first;
            segment.afterMask = (uint32_t{1} << kSegmentSteps) - 1;
            segments_.push_back(segment);
            tableSize += size_t{2} << segment.steps;
            if (count == 0) break;
        }
    }
    tables_.resize(tableSize);
    double* table = tables_.data();
    for (Segment& segment : segments_) {
        fillSideTable(match.data() + segment.shift, run.data() + segment.shift, segment.steps, table);
        segment.table = table;
        table += size_t{2} << segment.steps;
    }
    oneSegmentPerSide_ = segments_.size() == 2;
    fixedPoint_ = planes_ == 1 && prepareFixedPoint();
    return true;
}

template <typename Code>
bool PairScreen::numberCodes(const AnalysisState& state, const WindowWalk& walk, const WindowPatterns& patterns,
                             const Code* alleles) {
    const int32_t k = patterns.count;
    const int32_t steps = walk.nRight + walk.nLeft;
    const size_t rowLength = static_cast<size_t>(state.nMarkers);
    distinct_.assign(static_cast<size_t>(steps), {});
    ids_.resize(static_cast<size_t>(k) * static_cast<size_t>(steps));
    centreCode_.resize(static_cast<size_t>(k));
    uint8_t* ids = ids_.data();
    for (int32_t p = 0; p < k; ++p) {
        const Code* row = alleles + static_cast<size_t>(patterns.representative(p)) * rowLength;
        centreCode_[static_cast<size_t>(p)] = row[walk.centre];
        for (int32_t s = 0; s < steps; ++s) {
            const int32_t code = row[walk.marker[static_cast<size_t>(s)]];
            std::vector<int32_t>& seen = distinct_[static_cast<size_t>(s)];
            size_t id = 0;
            while (id < seen.size() && seen[id] != code) ++id;
            if (id == seen.size()) {
                if (id == 16) return false;
                seen.push_back(code);
            }
            *ids++ = static_cast<uint8_t>(id);
        }
    }
    return true;
}

bool PairScreen::prepareFixedPoint() {
    const double scale = tenOverDenominator_ * std::ldexp(1.0, kTenthBits);
    size_t size = 2;
    for (const Segment& segment : segments_) size += size_t{2} << segment.steps;
    unitTables_.resize(size);
    // Each entry rounded once, so that a pair's units are within two units (and
    // the double estimate's few ulps) of ten times its distance; entries that
    // could overflow the sums leave the window to the double estimate.
    int32_t* out = unitTables_.data();
    for (const Segment& segment : segments_) {
        for (size_t entry = 0; entry < (size_t{2} << segment.steps); ++entry) {
            // The centre's weight goes with the right side's first segment.
            const double centre = &segment == &segments_[0] ? centreWeight_[entry >> segment.steps] : 0.0;
            const double units = std::nearbyint((centre + segment.table[entry]) * scale);
            if (!(std::fabs(units) < std::ldexp(1.0, 28))) return false;
            *out++ = static_cast<int32_t>(units);
        }
    }
    out[0] = out[1] = 0;
    return true;
}

PairScreen::UnitTables PairScreen::unitTables() const {
    UnitTables tables;
    tables.count = oneSegmentPerSide_ ? 2 : 4;
    const int32_t* zeros = unitTables_.data() + unitTables_.size() - 2;
    for (UnitLookup& lookup : tables.lookup) lookup.table = zeros;
    const int32_t* table = unitTables_.data();
    int side = 0;  // the right side's segments come first
    for (size_t i = 0; i < segments_.size(); ++i) {
        const Segment& segment = segments_[i];
        if (i > 0 && !segment.after) side = 1;
        UnitLookup& lookup = tables.lookup[side + (segment.after ? 2 : 0)];
        lookup.table = table;
        lookup.steps = segment.steps;
        lookup.shift = segment.shift;
        lookup.mask = segment.mask;
        if (segment.after) {
            lookup.afterShift = segment.afterShift;
            lookup.afterMask = segment.afterMask;
        }
        table += size_t{2} << segment.steps;
    }
    tables.bits = bits_.data();
    tables.centres = centreCode_.data();
    return tables;
}

}  // namespace orvane
