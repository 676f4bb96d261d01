"""A plain BGEN 1.2 writer for the tests: phased biallelic calls from a VCF,
straight from the format's layout 2, so that the workflow's BGEN input is
checked against a file no plink2 export had a hand in.

Each variant lists REF first (a "ref-first" file), then ALT; each haplotype's
probability of carrying the first allele is stored in 8 bits (255 or 0, exact),
blocks compressed with zlib; a missing call is marked in the ploidy byte.
"""
import struct
import zlib


def _string(text, width):
    data = text.encode()
    return struct.pack("<" + width, len(data)) + data


def variant_block(chrom, pos, vid, ref, alt, calls):
    """calls: one (a, b) per sample, allele codes 0 (REF) or 1 (ALT), or None
    when missing."""
    head = (_string(vid, "H") + _string(vid, "H") + _string(chrom, "H") + struct.pack("<I", pos)
            + struct.pack("<H", 2) + _string(ref, "I") + _string(alt, "I"))
    n = len(calls)
    ploidy = bytes(2 | 0x80 if call is None else 2 for call in calls)
    probabilities = bytearray()
    for call in calls:
        # P(the haplotype carries the first allele, REF), one per haplotype.
        probabilities += bytes(0 if call is None else 255 - 255 * allele for allele in
                               (call or (0, 0)))
    data = struct.pack("<IHBB", n, 2, 2, 2) + ploidy + struct.pack("<BB", 1, 8) + bytes(probabilities)
    packed = zlib.compress(data)
    return head + struct.pack("<II", len(packed) + 4, len(data)) + packed


def write(path, samples, variants):
    """variants: (chrom, pos, id, ref, alt, calls) in file order. Writes the
    BGEN with its sample identifiers, and PATH-without-.bgen.sample beside it."""
    ids = b"".join(_string(s, "H") for s in samples)
    sample_block = struct.pack("<II", 8 + len(ids), len(samples)) + ids
    # Flags: zlib (1), layout 2 (bits 2-5), sample identifiers present (bit 31).
    header = struct.pack("<II", 20, len(variants)) + struct.pack("<I", len(samples)) + b"bgen" \
        + struct.pack("<I", 1 | (2 << 2) | (1 << 31))
    body = b"".join(variant_block(*v) for v in variants)
    with open(path, "wb") as f:
        f.write(struct.pack("<I", len(header) + len(sample_block)))
        f.write(header + sample_block + body)
    with open(path[:-len(".bgen")] + ".sample", "w") as f:
        f.write("ID_1 ID_2 missing\n0 0 0\n")
        f.writelines(f"{s} {s} 0\n" for s in samples)


def calls_from_vcf_line(fields):
    """The (a, b) calls of a VCF data line's samples (GT first in FORMAT)."""
    calls = []
    for sample in fields[9:]:
        gt = sample.split(":")[0]
        if "." in gt:
            calls.append(None)
        else:
            a, b = gt.replace("/", "|").split("|")
            calls.append((int(a), int(b)))
    return calls
