// Warnings about the samples a conversion keeps: inputs orvane-vcf accepts but
// that are probably not what the user meant.
#pragma once

#include <optional>
#include <string>

#include "phenotypes.h"
#include "vcf_haplotypes.h"

namespace orvane {

// Fewer kept samples than this, or than half of the VCF's, get a warning.
constexpr long kFewKeptSamples = 20;

// Trait mode: the trait column holds exactly two distinct values, as a
// case/control coding does.
std::optional<std::string> twoValuedTraitWarning(const PhenotypeTable& phenotypes);

// Fewer than half of the VCF's samples, or fewer than kFewKeptSamples, kept.
std::optional<std::string> keptSamplesWarning(long kept, long inVcf);

// Samples left out: up to kLeftOutNamed of them by name and reason, and where
// the list of all of them is.
constexpr size_t kLeftOutNamed = 5;
std::optional<std::string> leftOutWarning(const HaplotypeMatrix& m, const std::string& listPath);

}  // namespace orvane
