#!/usr/bin/python3
"""Warns when REF is the minor allele at most of a region's markers: REF and
ALT are then probably swapped (a BGEN read with the wrong bgen_ref, or a
source whose alleles are listed the other way round), which turns every
allele code and the sign of a trait's T.

usage: allele_check.py REGION.vcf.gz MARKERS.tsv OUT

Counts the called alleles of each site of the VCF that orvane-vcf kept as a
marker (MARKERS.tsv: chrom, pos, ref, alt) and writes OUT: the warning line,
or nothing. In reference-oriented data REF is the major allele at most sites
(in the bundled study at 81 % of them), so a majority of markers with a minor
REF is a strong sign.
"""
import subprocess
import sys

PROGRAM = "orvane-workflow"


def allele_counts(vcf):
    """(chrom, pos, ref, alt) -> (ALT count, called alleles), from bcftools."""
    tags = subprocess.Popen(["bcftools", "+fill-tags", vcf, "-Ou", "--", "-t", "AC,AN"],
                            stdout=subprocess.PIPE)
    query = subprocess.run(["bcftools", "query", "-f", "%CHROM\t%POS\t%REF\t%ALT\t%AC\t%AN\n", "-"],
                           stdin=tags.stdout, capture_output=True, text=True)
    tags.stdout.close()
    if tags.wait() != 0 or query.returncode != 0:
        raise RuntimeError(f"bcftools could not count the alleles of {vcf}: {query.stderr.strip()}")
    counts = {}
    for line in query.stdout.splitlines():
        chrom, pos, ref, alt, ac, an = line.split("\t")
        if "," not in alt:
            counts[(chrom, pos, ref, alt)] = (int(ac), int(an))
    return counts


def read_markers(path):
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        rows = [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f if line.strip()]
    return [(r["chrom"], r["pos"], r["ref"], r["alt"]) for r in rows]


def swap_warning(markers, counts):
    """The warning when REF is the minor allele at more than half the markers
    (a site at exactly one half counts for neither); None otherwise."""
    known = [counts[m] for m in markers if m in counts and counts[m][1] > 0]
    minor_ref = sum(1 for ac, an in known if 2 * ac > an)
    if not known or 2 * minor_ref <= len(known):
        return None
    return (f"{PROGRAM}: warning: REF is the minor allele at {minor_ref} of the region's "
            f"{len(known)} markers: REF and ALT are probably swapped (a BGEN read with the "
            "wrong bgen_ref, or a source listing the alleles the other way round); check the "
            "source's allele order before reading the allele codes or the sign of T")


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__.split("\n\n")[1])
    try:
        warning = swap_warning(read_markers(argv[2]), allele_counts(argv[1]))
    except (OSError, RuntimeError, KeyError, ValueError) as e:
        sys.exit(f"{PROGRAM}: error: {argv[1]}: {e}")
    with open(argv[3], "w") as out:
        out.write(warning + "\n" if warning else "")


if __name__ == "__main__":
    main(sys.argv)
