// What the pair route keeps of two window patterns: a byte per pair that says in
// which histogram bin their distance falls and on which side of its edges, so
// that the radius (derived from the histogram, or fixed) then decides every pair
// without its distance.
#pragma once

#include <cstdint>

#include "cluster/density_parameters.h"

namespace orvane {

// How the radius is found, the same for every window of a run: derived from each
// window's histogram, or fixed (the parameter file's, or the standing value when
// the fraction asks for more pairs than there are).
struct RadiusRule {
    bool derived = false;
    int64_t target = 0;
    double fixed = 0.2;
};

// A pair's code: its histogram bin, and whether its distance lies below the lower
// and the upper edge of that bin. A radius derived as b x 0.1 then decides every
// pair: bins above b + 1 lie wholly below the radius, bins below b wholly above.
constexpr uint8_t kBinMask = 0x0f;
constexpr uint8_t kBelowLowerEdge = 0x10;  // also: below a fixed radius
constexpr uint8_t kBelowUpperEdge = 0x20;
// An estimate so close to a decision edge that only the exact distance can tell
// on which side it falls; no distance has this code.
constexpr uint8_t kNeedsExact = 0xff;

inline uint8_t pairCode(double d, const RadiusRule& rule) {
    if (!rule.derived) return d < rule.fixed ? kBelowLowerEdge : 0;
    const int bin = distanceBin(d);
    uint8_t code = static_cast<uint8_t>(bin);
    if (d < bin * 0.1) code |= kBelowLowerEdge;
    if (d < (bin + 1) * 0.1) code |= kBelowUpperEdge;
    return code;
}

// Whether a pair of this code lies within the radius: a fixed one, or a derived
// one of radiusBin x 0.1.
inline bool neighboursUnder(uint8_t code, bool derived, int radiusBin) {
    if (!derived) return (code & kBelowLowerEdge) != 0;
    const int bin = code & kBinMask;
    if (radiusBin > bin + 1) return true;
    if (radiusBin < bin) return false;
    return (code & (radiusBin == bin ? kBelowLowerEdge : kBelowUpperEdge)) != 0;
}

// The neighbour decision of every code under one radius.
struct PairDecision {
    bool neighbour[256] = {};
    void settle(bool derived, int radiusBin) {
        for (int code = 0; code < 256; ++code) {
            neighbour[code] = neighboursUnder(static_cast<uint8_t>(code), derived, radiusBin);
        }
    }
    bool operator()(uint8_t code) const { return neighbour[code]; }
};

}  // namespace orvane
