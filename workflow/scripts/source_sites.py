"""The variant positions of a BGEN 1.2 file or a PLINK 2 fileset, by
chromosome, for laying tiles over a biobank's own sites.

A BGEN is read block by block, its variant identifying data only: each
genotype block is skipped by its stored length, so listing the sites of a
chromosome costs one pass of seeks, not the import of its genotypes (which
`plink2 --bgen ... --make-just-pvar` would do). A .pvar is text: its
`##contig` lines give chromosome lengths when they carry them. Chromosome
names are kept as the file writes them, as the regions of a BED file would be.
"""
import re
import struct

CONTIG_LENGTH = re.compile(r"^##contig=<.*\bID=([^,>]+).*\blength=(\d+)")


class SourceError(Exception):
    """(where, what) of a file that cannot be read as the format it claims."""

    def __init__(self, where, what):
        super().__init__(f"{where}: {what}")
        self.where, self.what = where, what


def _read(f, size, path):
    data = f.read(size)
    if len(data) != size:
        raise SourceError(path, "the BGEN file ends inside a variant block")
    return data


def _string(f, width, path):
    length, = struct.unpack("<" + width, _read(f, struct.calcsize(width), path))
    return _read(f, length, path)


def bgen_sites(path):
    """{chrom: [positions in file order]} of a BGEN file (layout 1 or 2)."""
    sites = {}
    with open(path, "rb") as f:
        head = f.read(24)
        if len(head) < 24:
            raise SourceError(path, "too short for a BGEN file")
        offset, header_length, variants, samples = struct.unpack("<IIII", head[:16])
        if head[16:20] not in (b"bgen", b"\0\0\0\0"):
            raise SourceError(path, "not a BGEN file (no 'bgen' magic number)")
        f.seek(4 + header_length - 4)
        flags, = struct.unpack("<I", _read(f, 4, path))
        compressed, layout = flags & 3, (flags >> 2) & 15
        if layout not in (1, 2):
            raise SourceError(path, f"BGEN layout {layout} is not 1 or 2")
        f.seek(4 + offset)
        for _ in range(variants):
            if layout == 1:
                _read(f, 4, path)  # the sample count, repeated
            _string(f, "H", path)  # variant ID
            _string(f, "H", path)  # rsID
            chrom = _string(f, "H", path).decode()
            position, = struct.unpack("<I", _read(f, 4, path))
            alleles = struct.unpack("<H", _read(f, 2, path))[0] if layout == 2 else 2
            for _ in range(alleles):
                _string(f, "I", path)
            if layout == 1 and not compressed:
                skip = 6 * samples
            else:
                skip, = struct.unpack("<I", _read(f, 4, path))
            f.seek(skip, 1)
            sites.setdefault(chrom, []).append(position)
    return sites


def pvar_sites(path):
    """({chrom: length} from the ##contig lines, {chrom: [positions]}) of a
    .pvar; without a #CHROM line its columns are a .bim's (CHROM ID CM POS ...)."""
    lengths, sites = {}, {}
    chrom_column, pos_column = 0, 3
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if line.startswith("##"):
                found = CONTIG_LENGTH.match(line)
                if found:
                    lengths[found.group(1)] = int(found.group(2))
                continue
            fields = line.split()
            if line.startswith("#CHROM"):
                chrom_column, pos_column = fields.index("#CHROM"), fields.index("POS")
                continue
            if not fields:
                continue
            try:
                sites.setdefault(fields[chrom_column], []).append(int(fields[pos_column]))
            except (IndexError, ValueError):
                raise SourceError(f"{path}:{number}", "not a .pvar line (CHROM and POS expected)")
    return lengths, sites
