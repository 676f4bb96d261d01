#!/usr/bin/python3
"""Writes a chromosome's genetic map, given in orvane-vcf's format (position,
rate, cumulative cM; a header line unless the first line is three numbers),
in the format a phasing program reads.

usage: phasing_map.py beagle|shapeit4 CHROM MAP OUT
  beagle:   PLINK map lines: chrom, '.', cM, position
  shapeit4: a header 'pos chr cM', then position, chrom, cM
"""
import os
import sys

from study import read_text


def map_points(path):
    points = []
    for number, line in enumerate(read_text(path).splitlines(), 1):
        fields = line.split()
        if not fields:
            continue
        try:
            points.append((int(float(fields[0])), float(fields[2])))
        except (ValueError, IndexError):
            if number == 1:
                continue  # the header
            sys.exit(f"phasing_map.py: error: {path}:{number}: expected position, rate, cM")
    return points


def main(argv):
    if len(argv) != 5 or argv[1] not in ("beagle", "shapeit4"):
        sys.exit(__doc__.split("\n\n")[1])
    phaser, chrom, source, out = argv[1:]
    with open(out + ".tmp", "w") as f:
        if phaser == "shapeit4":
            f.write("pos\tchr\tcM\n")
        for pos, cm in map_points(source):
            f.write(f"{chrom}\t.\t{cm:.10g}\t{pos}\n" if phaser == "beagle"
                    else f"{pos}\t{chrom}\t{cm:.10g}\n")
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main(sys.argv)
