#!/usr/bin/env python3
"""Run orvane and the reference implementation on random small cases and
compare everything they produce byte for byte.

Usage: compare.py ORVANE_BINARY [--cases N] [--seed S] [--keep DIR] [--show N]

Each case runs both programs in their own temporary directory holding the same
input files; stdout, exit status, stderr (for exit statuses 0 and 1) and every
file left in the directory ("output", the result file, the inputs) must agree.
orvane's warning lines are left out of its stderr: the reference has none, and
warnings are tested on their own.
"""
import argparse
import collections
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REFERENCE = os.path.join(HERE, 'orvane_reference.py')
SEPARATORS = [' ', ' ', '\t', ',', ', ', '\t\t', ' ,\t']


# ------------------------------------------------------------- case builder

def real_text(rng, x):
    """A decimal rendering of x in one of several spellings."""
    style = rng.random()
    if style < 0.5:
        return '%.3f' % x
    if style < 0.7:
        return '%d' % round(x)
    if style < 0.85:
        return '%g' % x
    return '%.2e' % x


def make_haplotypes(rng, trait_mode):
    """Haplotypes descended from a few founders so that clusters form."""
    # a few tiny samples: in trait mode they reach the statistical routines' fatal errors
    n, m = (rng.randint(1, 4) if rng.random() < 0.04 else rng.randint(5, 40)), rng.randint(1, 15)
    kind = rng.random()
    if kind < 0.6:
        codes = [1, 2]
    elif kind < 0.85:
        codes = [1, 2, 3, 4]
    else:
        codes = [-1, 1, 2]
    founders = [[rng.choice(codes) for _ in range(m)] for _ in range(rng.randint(1, 4))]
    mutation = rng.choice([0.0, 0.02, 0.05, 0.15])
    missing = rng.choice([0.0, 0.0, 0.03, 0.1])
    haps = []
    for _ in range(n):
        f = rng.randrange(len(founders))
        alleles = [rng.choice(codes) if rng.random() < mutation else a for a in founders[f]]
        alleles = [0 if rng.random() < missing else a for a in alleles]
        if trait_mode:
            mean = 10.0 + 3.0 * f
            value = rng.choice([mean, mean + rng.gauss(0, 2), rng.uniform(-5, 25)])
            label = real_text(rng, value)
        else:
            affected = rng.random() < (0.85 if f == 0 else 0.2)
            label = rng.choice(['a', 'affected', 'a1']) if affected else rng.choice(['u', 'n', 'A', '0'])
        haps.append((label, alleles))
    return haps


def data_text(rng, haps):
    eol = '\r\n' if rng.random() < 0.1 else '\n'
    lines = [rng.choice(['id status markers', 'header', '#'])]
    for i, (label, alleles) in enumerate(haps):
        sep = rng.choice(SEPARATORS)
        ident = '%d' % (i + 1) + ('x' if rng.random() < 0.05 else '')
        fields = [ident, label] + ['%d' % a for a in alleles]
        lead = rng.choice(['', '', ' ', '\t'])
        lines.append(lead + sep.join(fields))
    text = eol.join(lines) + eol
    if rng.random() < 0.1:    # an empty line ends the data
        text += eol + '99 a 1 2 3' + eol
    return text


def param_text(rng, n_markers):
    tokens = ['epsilon']
    mode = rng.choice([1, 1, 2, 2, 2, 3])
    tokens.append(str(mode))
    if mode == 1:   # round radii make distances that fall exactly on the radius common
        tokens.append(rng.choice(['%.3g' % rng.uniform(0.05, 0.7), '0.2', '0.25', '0.4', '0.5']))
    elif mode == 2:
        tokens.append('%.3g' % rng.choice([rng.uniform(0.02, 0.7), 0.001, 1.0, 1.5]))
    tokens += ['minPtsQuantile', '%.3g' % rng.choice([0.0, rng.uniform(0, 0.95), 1.2, -0.3])]
    window = rng.choice([1, 2, 3, 4, 5, 7, 10, 21, n_markers, n_markers + 3] * 10 + [0, -2])
    tokens += ['windowSize', str(window)]
    dtype = rng.randint(0, 7)
    tokens += ['distanceType', str(dtype)]
    u = lambda lo, hi: '%.3g' % rng.uniform(lo, hi)
    if dtype in (1, 4):
        tokens += [u(-3, 0.5), u(0, 2)]
    elif dtype == 2:
        tokens += [u(-3, 1), u(-0.5, 2)]
    elif dtype == 6:
        tokens += rng.choice([[u(0, 2), u(0, 2)], ['1', '1'], ['0.5', '1'], ['1', '0']])
    elif dtype == 3:
        tokens.append(rng.choice(['1', '2', '3', '2.0']))
    if dtype == 4:
        tokens += [u(-3, 0.5), u(0, 2)]
    elif dtype == 5:
        tokens += [u(-3, 1), u(-0.5, 2), u(-3, 1), u(-0.5, 2)]
    tokens += ['permutations', str(rng.choice([0, 0, 1, 2, 5, 10, 20]))]
    tokens += ['threshold', rng.choice(['1', '1.0', '0.5', '0.1', '1.5', '-1', '2', '-20000000'])]
    if rng.random() < 0.05:   # a file that stops early keeps the later defaults
        tokens = tokens[:rng.randint(0, len(tokens))]
    return ''.join(t + rng.choice([' ', '\n', '\t', '\n\n']) for t in tokens)


def distance_text(rng, n_markers):
    gaps = max(n_markers - 1, 0)
    count = rng.choice([gaps, gaps, gaps, max(gaps - 2, 0), gaps + 2])
    if rng.random() < 0.3:    # equal gaps
        values = [rng.choice(['1', '10', '0.5', '100'])] * count
    else:
        values = [real_text(rng, rng.choice([rng.uniform(0, 50), rng.uniform(0, 3), 0.0]))
                  for _ in range(count)]
    values = [v.lstrip('-') for v in values]
    text = rng.choice(SEPARATORS).join(values) + '\n'
    if rng.random() < 0.2:
        text += '-5 oops\n'
    return text


BREAKAGES = [
    lambda d, p, s: (d.replace('\n', '\n7 a 1 x\n', 1), p, s),            # bad allele line
    lambda d, p, s: (d, p.replace('windowSize', 'windowSize 0 x', 1), s),      # window 0
    lambda d, p, s: (d, p, s and '-3 ' + s),                                   # negative distance
    lambda d, p, s: ('header\n', p, s),                                        # no haplotype
    lambda d, p, s: (d.rstrip('\n').rsplit('\n', 1)[0] + '\n5 a\n', p, s),      # too few tokens
    lambda d, p, s: (d, 'e 1 0.2 q 0 w 3 t 3 7 n 0 r 1\n', s),                 # bad LD variant
    lambda d, p, s: (d, 'e 1 0.2 q 0 w 3 t 6 -1 1 n 0 r 1\n', s),              # negative weight
    lambda d, p, s: (d.replace('\n', '\nzz a 1\n', 1), p, s),                  # identifier
]


def make_case(rng):
    """Return (argv tail, {file name: content}, pre-existing result file text or None)."""
    trait_mode = rng.random() < 0.5
    haps = make_haplotypes(rng, trait_mode)
    n_markers = len(haps[0][1])
    files = {'data.txt': data_text(rng, haps), 'params.txt': param_text(rng, n_markers)}
    dist = distance_text(rng, n_markers) if rng.random() < 0.6 else None
    if rng.random() < 0.06:
        d, p, s = rng.choice(BREAKAGES)(files['data.txt'], files['params.txt'], dist)
        files['data.txt'], files['params.txt'], dist = d, p, s
    args = ['-q' if trait_mode else '-s', 'data.txt', 'params.txt']
    roll = rng.random()
    if dist is not None:
        files['dist.txt'] = dist
        args.append('dist.txt')
    elif roll < 0.05:
        args.append('missing_dist.txt')          # named but absent
    elif roll < 0.08:
        args += ['dist.txt', 'extra']            # five arguments: default gaps
    if rng.random() < 0.02:
        args = rng.choice([[], args[:2], ['-x'] + args[1:], ['q'] + args[1:]])
    elif rng.random() < 0.5:
        args = ['--permutation', 'chained'] + args    # the scheme of earlier result files
    if rng.random() < 0.1:
        files['data.txt-results'] = 'earlier run\n'
    return args, files


# ---------------------------------------------------------------- execution

def run_in(directory, command, files, timeout):
    for name, text in files.items():
        with open(os.path.join(directory, name), 'w', newline='') as f:
            f.write(text)
    try:
        p = subprocess.run(command, cwd=directory, capture_output=True, timeout=timeout)
        status, out, err = p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        status, out, err = 'timeout', b'', b''
    left = {}
    for name in sorted(os.listdir(directory)):
        with open(os.path.join(directory, name), 'rb') as f:
            left[name] = f.read()
    return status, out, err, left


def first_difference(a, b):
    la, lb = a.decode('latin-1').split('\n'), b.decode('latin-1').split('\n')
    for i in range(max(len(la), len(lb))):
        x = la[i] if i < len(la) else '<end>'
        y = lb[i] if i < len(lb) else '<end>'
        if x != y:
            return 'line %d:\n    orvane:    %r\n    reference: %r' % (i + 1, x, y)
    return 'identical lines'


def compare(tool, ref):
    """List of differences between the two runs."""
    problems = []
    if tool[0] != ref[0]:
        problems.append('exit status: orvane %s, reference %s' % (tool[0], ref[0]))
    if tool[1] != ref[1]:
        problems.append('stdout ' + first_difference(tool[1], ref[1]))
    tool_err = b''.join(line for line in tool[2].splitlines(keepends=True)
                        if not line.startswith(b'orvane: warning: '))
    if ref[0] in (0, 1) and tool_err != ref[2]:
        problems.append('stderr ' + first_difference(tool_err, ref[2]))
    # The run record is orvane's own; its numbers are checked by the tool's tests.
    for name in sorted((set(tool[3]) | set(ref[3])) - {'data.txt-results.jsonl'}):
        a, b = tool[3].get(name), ref[3].get(name)
        if a is None or b is None:
            problems.append('file %s exists only for %s' % (name, 'orvane' if b is None else 'reference'))
        elif a != b:
            problems.append('file %s ' % name + first_difference(a, b))
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('binary')
    ap.add_argument('--cases', type=int, default=300)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--keep', help='directory in which to save the inputs of failing cases')
    ap.add_argument('--show', type=int, default=5, help='failing cases to print in full')
    ap.add_argument('--timeout', type=float, default=300)
    opts = ap.parse_args()
    binary = os.path.abspath(opts.binary)
    failures = 0
    statuses = collections.Counter()
    for case in range(opts.cases):
        rng = random.Random('%d/%d' % (opts.seed, case))
        args, files = make_case(rng)
        with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
            tool = run_in(a, [binary] + args, files, opts.timeout)
            ref = run_in(b, [sys.executable, REFERENCE] + args, files, opts.timeout)
        statuses[ref[0]] += 1
        problems = compare(tool, ref)
        if not problems:
            continue
        failures += 1
        print('case %d (seed %d): %s, exit %s' % (case, opts.seed, ' '.join(args), ref[0]))
        for p in problems:
            print('  ' + p)
        if failures <= opts.show:
            for name, text in sorted(files.items()):
                print('  --- %s ---' % name)
                print('  ' + text.replace('\n', '\n  ').rstrip())
        if opts.keep:
            target = os.path.join(opts.keep, 'case%d' % case)
            os.makedirs(target, exist_ok=True)
            for name, text in files.items():
                with open(os.path.join(target, name), 'w', newline='') as f:
                    f.write(text)
            with open(os.path.join(target, 'command'), 'w') as f:
                f.write(' '.join(args) + '\n')
    print('%d of %d cases differ (reference exit statuses: %s)' % (
        failures, opts.cases, ', '.join('%s x%d' % kv for kv in sorted(statuses.items(), key=str))))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
