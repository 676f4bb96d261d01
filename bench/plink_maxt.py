"""A case/control study through plink1.9's max(T) permutation test.

`plink1.9 --assoc mperm=N` permutes the people's statuses and reports, per SNP,
EMP2: the share of replicates whose largest allelic chi-square over all SNPs
reaches the SNP's own (family-wise over the region). The smallest EMP2 is that
of the SNP with the largest chi-square: the region's max(T) p-value, which the
joint scheme's single-marker chi-square p estimates too.

plink tests people, orvane haplotypes: haplotypes of the same status are paired
into people in their order (in the coalescent sets, haplotypes 2i-1 and 2i are
person i's), so the allele counts and the allelic chi-squares are the same.
"""
import os
import subprocess


def write_ped(prefix, labels, haplotypes, pos_bp=None):
    """PREFIX.ped and PREFIX.map: people of two same-status haplotypes (status
    `a...` a case, 2; others controls, 1); an odd one out is left out."""
    groups = {}
    for label, h in zip(labels, haplotypes):
        groups.setdefault(label.startswith("a"), []).append(h)
    m = len(haplotypes[0])
    with open(prefix + ".ped", "w") as out:
        person = 0
        for case in (True, False):
            hs = groups.get(case, [])
            for i in range(0, len(hs) - 1, 2):
                person += 1
                alleles = " ".join("%s %s" % (a, b) for a, b in zip(hs[i], hs[i + 1]))
                out.write("f%d p%d 0 0 0 %d %s\n" % (person, person, 2 if case else 1, alleles))
    with open(prefix + ".map", "w") as out:
        for k in range(m):
            bp = int(round(pos_bp[k])) if pos_bp else 1000 * (k + 1)
            out.write("1 m%d 0 %d\n" % (k + 1, bp))


def read_assoc(path):
    """{SNP: chi-square} of a .assoc file (None where plink wrote NA)."""
    out = {}
    with open(path) as f:
        header = f.readline().split()
        snp, chisq = header.index("SNP"), header.index("CHISQ")
        for line in f:
            fields = line.split()
            if fields:
                out[fields[snp]] = None if fields[chisq] == "NA" else float(fields[chisq])
    return out


def read_emp2(path):
    """{SNP: EMP2} of a .assoc.mperm file."""
    out = {}
    with open(path) as f:
        header = f.readline().split()
        snp, emp2 = header.index("SNP"), header.index("EMP2")
        for line in f:
            fields = line.split()
            if fields:
                out[fields[snp]] = float(fields[emp2])
    return out


def best(assoc, emp2):
    """(index from 0 of the SNP with the largest chi-square, the smallest EMP2)."""
    tested = [(c, s) for s, c in assoc.items() if c is not None]
    snp = max(tested, key=lambda t: (t[0], -int(t[1][1:])))[1] if tested else None
    return (int(snp[1:]) - 1 if snp else None, min(emp2.values()) if emp2 else float("nan"))


def run(plink, workdir, labels, haplotypes, pos_bp, permutations, seed):
    """(best SNP's index, its EMP2) of a max(T) test with the given permutations."""
    prefix = os.path.join(workdir, "plink")
    write_ped(prefix, labels, haplotypes, pos_bp)
    subprocess.run([plink, "--ped", prefix + ".ped", "--map", prefix + ".map", "--allow-no-sex",
                    "--assoc", "mperm=%d" % permutations, "--seed", str(seed), "--threads", "1",
                    "--out", prefix], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, cwd=workdir)
    return best(read_assoc(prefix + ".assoc"), read_emp2(prefix + ".assoc.mperm"))
