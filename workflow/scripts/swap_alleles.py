#!/usr/bin/python3
"""Turns every site of a VCF the other way round: REF and ALT swap places and
each call's allele codes 0 and 1 with them, phase and haplotype order kept.

usage: swap_alleles.py IN.vcf.gz OUT.vcf.gz

The workflow reads a BGEN whose first allele is REF this way: plink2
(2.00a3.5, Debian 12) reads such a file with `ref-first` with the two
haplotypes of every heterozygous call exchanged, checked against a BGEN
written to the format's layout (tests/workflow/bgen_writer.py); read
`ref-last`, the haplotypes come out right and only the alleles are the wrong
way round, which this undoes. The VCF must carry GT alone (as plink2 exports
it). A site with more than two alleles cannot be turned so and is left out,
with a warning.
"""
import gzip
import subprocess
import sys

PROGRAM = "orvane-workflow"
SWAP = str.maketrans("01", "10")


def swap(lines, out, warn):
    dropped = []
    for line in lines:
        if line.startswith("#"):
            out.write(line)
            continue
        fields = line.rstrip("\n").split("\t")
        if len(fields) > 8 and fields[8] != "GT":
            raise ValueError(f"site {fields[2]} at {fields[0]}:{fields[1]} carries FORMAT "
                             f"'{fields[8]}'; only GT can be turned")
        if "," in fields[4]:
            dropped.append(f"{fields[0]}:{fields[1]}")
            continue
        fields[3], fields[4] = fields[4], fields[3]
        out.write("\t".join(fields[:9]) + "\t" + "\t".join(fields[9:]).translate(SWAP) + "\n")
    if dropped:
        warn(f"{PROGRAM}: warning: {len(dropped)} site(s) with more than two alleles left out "
             f"of the ref-first BGEN's region (first {dropped[0]}); split them into "
             "biallelic sites (plink2 --make-pgen multiallelics=-) to keep them")


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.split("\n\n")[1])
    with gzip.open(argv[1], "rt") as lines, open(argv[2], "wb") as target:
        bgzip = subprocess.Popen(["bgzip", "-c"], stdin=subprocess.PIPE, stdout=target, text=True)
        try:
            swap(lines, bgzip.stdin, lambda text: print(text, file=sys.stderr))
        except ValueError as e:
            bgzip.kill()
            sys.exit(f"{PROGRAM}: error: {argv[1]}: {e}")
        finally:
            bgzip.stdin.close()
        if bgzip.wait() != 0:
            sys.exit(f"{PROGRAM}: error: bgzip failed writing {argv[2]}")


if __name__ == "__main__":
    main(sys.argv)
