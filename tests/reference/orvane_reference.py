#!/usr/bin/env python3
"""Plain, slow reference implementation of orvane, used as a test oracle.

Usage: orvane_reference.py -s|-q datafile paramfile [distfile]

Every floating-point expression is evaluated in the same order as the tool
evaluates it (left to right wherever a chain of products and quotients is
written), so that the outputs agree byte for byte.  Python floats are IEEE
doubles and math.exp/log/sqrt are the C library's, so only the order matters.
Divisions, square roots and logarithms that can meet a zero or a negative
argument go through small helpers that return the IEEE result instead of
raising, as C arithmetic does.
"""
import math
import re
import struct
import sys
from collections import deque

USAGE_HEAD = ("USAGE: Orvane.exe -option datafile parameterfile [interDistFile]\n\n"
              "options:\n")
USAGE_A = USAGE_HEAD + "s:\tsingle gene model\nq:\tQTL mapping\n"
USAGE_B = USAGE_HEAD + "s:\tsingle gene\nq:\tQTL mapping\n"

INT = r'[+-]?[0-9]+'
REAL = r'[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?'
INT_RE, REAL_RE = re.compile(INT), re.compile(REAL)
SEPARATORS = re.compile(r'[ ,\t]+')
# parameter tokens: leading white space (C locale) skipped, as stream extraction does
SPACE = r'[ \t\n\v\f\r]*'
LABEL_TOKEN = re.compile(SPACE + r'([^ \t\n\v\f\r]+)')
INT_TOKEN = re.compile(SPACE + '(' + INT + ')')
REAL_TOKEN = re.compile(SPACE + '(' + REAL + ')')
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1

# ---------------------------------------------------------------- IEEE helpers


def div(a, b):
    """a / b with the IEEE result for a zero divisor."""
    try:
        return a / b
    except ZeroDivisionError:
        if a != a or a == 0:
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)


def sqrt(x):
    return math.sqrt(x) if x >= 0 else math.nan


def log(x):
    if x > 0:
        return math.log(x)
    return -math.inf if x == 0 else math.nan


def minus_log10(x):
    if x > 0:
        return -math.log10(x)
    return math.inf if x == 0 else math.nan


def exp(x):
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def f32(x):
    """Round a double to single precision and widen it again."""
    try:
        return struct.unpack('f', struct.pack('f', x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def g(x):
    """Real in general notation, six significant digits ('%g' matches C)."""
    return '%g' % x


# ------------------------------------------------------- statistical routines

ITMAX = 1000
MAXIT = 1000
TOLERANCE = 3.0e-20
MIN_DENOMINATOR = 1.0e-30
LANCZOS = (76.18009172947146, -86.50532032941678, 24.01409824083091,
           -1.231739572450155, 0.001208650973866179, -5.395239384953e-06)
OPEN_FILES = []


def fatalerror(message):
    for f in OPEN_FILES:
        f.flush()
    sys.stderr.write("Numerical Recipes run-time error...\n")
    sys.stderr.write("%s\n" % message)
    sys.stderr.write("...now exiting to system...\n")
    sys.stderr.flush()
    sys.exit(1)


def lngamma(x):
    tmp = x + 5.5
    tmp = tmp - (x + 0.5) * log(tmp)
    ser = 1.000000000190015
    y = x
    for w in LANCZOS:
        y = y + 1
        ser = ser + div(w, y)
    return -tmp + log(div(2.5066282746310007 * ser, x))


def gser(a, x):
    gln = lngamma(a)
    if x <= 0:
        if x < 0:
            fatalerror("x less than 0 in routine gser")
        return 0.0
    ap = a
    delta = total = 1.0 / a
    for _ in range(ITMAX):
        ap = ap + 1
        delta = delta * x / ap
        total = total + delta
        if abs(delta) < abs(total) * TOLERANCE:
            return total * exp(-x + a * log(x) - gln)
    fatalerror("a too large, ITMAX too small in routine gser")


def floored(v):
    """Keep a running quantity of a continued fraction away from zero."""
    return MIN_DENOMINATOR if abs(v) < MIN_DENOMINATOR else v


def gcf(a, x):
    gln = lngamma(a)
    b = x + 1 - a
    cc = 1.0 / MIN_DENOMINATOR
    dd = div(1.0, b)
    h = dd
    for i in range(1, ITMAX + 1):
        an = -i * (i - a)
        b = b + 2
        dd = floored(an * dd + b)
        cc = floored(b + an / cc)
        dd = 1.0 / dd
        delta = dd * cc
        h = h * delta
        if abs(delta - 1) < TOLERANCE:
            return exp(-x + a * log(x) - gln) * h
    fatalerror("a too large, ITMAX too small in gcf")


def gammp(a, x):
    if x < 0 or a <= 0:
        fatalerror("Invalid arguments in routine gammp")
    return gser(a, x) if x < a + 1 else 1 - gcf(a, x)


def gammq(a, x):
    if x < 0 or a <= 0:
        fatalerror("Invalid arguments in routine gammq")
    return 1 - gser(a, x) if x < a + 1 else gcf(a, x)


def betacf(a, b, x):
    qab = a + b
    qap = a + 1
    qam = a - 1
    cc = 1.0
    dd = 1.0 / floored(1 - div(qab * x, qap))
    h = dd
    for m in range(1, MAXIT + 1):
        m2 = 2 * m
        aa = div(m * (b - m) * x, (qam + m2) * (a + m2))
        dd = 1.0 / floored(1 + aa * dd)
        cc = floored(1 + aa / cc)
        h = h * dd * cc
        aa = div(-(a + m) * (qab + m) * x, (a + m2) * (qap + m2))
        dd = 1.0 / floored(1 + aa * dd)
        cc = floored(1 + aa / cc)
        delta = dd * cc
        h = h * delta
        if abs(delta - 1) < TOLERANCE:
            return h
    fatalerror("a or b too big, or MAXIT too small in betacf")


def betai(a, b, x):
    if x < 0 or x > 1:
        fatalerror("Bad x in routine betai")
    if x == 0 or x == 1:
        bt = 0.0
    else:
        bt = exp(lngamma(a + b) - lngamma(a) - lngamma(b)
                 + a * log(x) + b * log(1 - x))
    if x < div(a + 1, a + b + 2):
        return div(bt * betacf(a, b, x), a)
    return 1 - div(bt * betacf(b, a, 1 - x), b)


def chisqtail(x, df):
    return gammq(df * 0.5, x * 0.5)


# The trait score of a window in which no cluster formed.
NO_CLUSTER = -10000000.0


def tdisttail(t, df):
    return betai(df * 0.5, 0.5, div(float(df), df + t * t))


def normaltail(z):
    u = z / math.sqrt(2.0)
    if u < 0:
        return 0.5 * (1 + gammp(0.5, u * u))
    return 0.5 * gammq(0.5, u * u)


# --------------------------------------------------------------- input files

class InputError(Exception):
    def __init__(self, path, line, what):
        super().__init__("%s:%d: %s" % (path, line, what))


def read_lines(path, what):
    """Lines of a file, a carriage return before each line break dropped."""
    try:
        with open(path, 'rb') as f:
            text = f.read().decode('latin-1')
    except OSError:
        raise InputError(path, 0, "cannot open the %s" % what)
    lines = text.split('\n')
    if lines[-1] == '':
        lines.pop()
    return [ln[:-1] if ln.endswith('\r') else ln for ln in lines]


def tokens_of(line):
    return [t for t in SEPARATORS.split(line) if t]


def decimal_real(tok):
    """Single-precision value of a token that is wholly a finite decimal real."""
    if not REAL_RE.fullmatch(tok):
        return None
    v = f32(float(tok))
    return v if math.isfinite(v) else None


class Haplotype:
    __slots__ = ('identifier', 'status', 'trait', 'alleles', 'label', 'core')

    def __init__(self, identifier, status, trait, alleles):
        self.identifier, self.status, self.trait = identifier, status, trait
        self.alleles = alleles
        self.label, self.core = 0, False


def read_haplotypes(path, trait_mode):
    lines = read_lines(path, "haplotype data file")
    haps, n_aff, n_unaff = [], 0, 0
    for lineno in range(2, len(lines) + 1):
        line = lines[lineno - 1]
        if line == '':
            break
        toks = tokens_of(line)
        if len(toks) < 2:
            raise InputError(path, lineno, "identifier and status or trait expected")
        m = INT_RE.match(toks[0])
        if not m or not INT32_MIN <= int(m.group()) <= INT32_MAX:
            raise InputError(path, lineno, "identifier '%s'" % toks[0])
        status, trait = 0, 0.0
        if trait_mode:
            trait = decimal_real(toks[1])
            if trait is None:
                raise InputError(path, lineno, "trait value '%s'" % toks[1])
        elif toks[1][0] == 'a':
            status, n_aff = 1, n_aff + 1
        else:
            n_unaff += 1
        alleles = []
        for tok in toks[2:]:
            if not INT_RE.fullmatch(tok) or not INT32_MIN <= int(tok) <= INT32_MAX:
                raise InputError(path, lineno, "allele code '%s'" % tok)
            alleles.append(int(tok))
        if not haps and not alleles:
            raise InputError(path, lineno, "no allele on the first haplotype line")
        if haps and len(alleles) != len(haps[0].alleles):
            raise InputError(path, lineno, "%d alleles, %d expected"
                             % (len(alleles), len(haps[0].alleles)))
        haps.append(Haplotype(int(m.group()), status, trait, alleles))
    if not haps:
        raise InputError(path, 2, "no haplotype line")
    return haps, n_aff, n_unaff


class StopReading(Exception):
    """The parameter file has no readable value where one is expected."""


class ParameterStream:
    """Reads like formatted stream extraction: a number takes the longest prefix
    that reads as one, and the rest of its token is left for the next read."""

    def __init__(self, text):
        self.text, self.pos = text, 0

    def take(self, pattern):
        m = pattern.match(self.text, self.pos)
        if not m:
            raise StopReading()
        self.pos = m.end()
        return m.group(1)

    def label(self):
        self.take(LABEL_TOKEN)

    def integer(self):
        v = int(self.take(INT_TOKEN))
        if not INT32_MIN <= v <= INT32_MAX:
            raise StopReading()
        return v

    def real(self):
        return float(self.take(REAL_TOKEN))


class Settings:
    """The run's settings: construction defaults, then the parameter file."""

    def __init__(self, text):
        self.epsilon, self.epsilon_fraction = 0.2, 0.0
        self.min_pts_quantile = 0.0
        self.window_size = 21
        self.distance_type = 0
        self.p = [0.0, 0.0, 0.0, 0.0]
        self.n_permutations = 1000
        self.report_threshold = f32(1.0)
        self.text = text
        s = ParameterStream(text)
        self.mode_read = False
        try:    # the first unreadable value leaves it and all later ones at their defaults
            s.label()
            mode = s.integer()
            self.mode_read = True
            if mode == 1:
                self.epsilon = s.real()
            elif mode == 2:
                self.epsilon_fraction = s.real()
            s.label()
            self.min_pts_quantile = s.real()
            s.label()
            self.window_size = s.integer()
            s.label()
            self.distance_type = s.integer()
            for k in range({1: 2, 2: 2, 6: 2, 3: 1, 4: 4, 5: 4}.get(self.distance_type, 0)):
                self.p[k] = s.real()
            s.label()
            self.n_permutations = s.integer()
            s.label()
            self.report_threshold = f32(s.real())
        except StopReading:
            pass


def read_settings(path):
    try:
        with open(path, 'rb') as f:
            st = Settings(f.read().decode('latin-1'))
    except OSError:
        raise InputError(path, 0, "cannot open the parameter file")
    # A file with content but not even an epsilon mode would run on defaults
    # alone: refused. A blank file gives every default.
    if not st.mode_read and st.text.strip(' \t\n\r\v\f'):
        raise InputError(path, 0, "not even the epsilon mode can be read")
    p1, p2, p3, p4 = st.p
    t = st.distance_type
    if st.window_size < 1:
        raise InputError(path, 0, "windowSize %d is below 1" % st.window_size)
    if t == 3 and p1 not in (1.0, 2.0, 3.0):
        raise InputError(path, 0, "LD variant %g is not 1, 2 or 3" % p1)
    if (t in (1, 4) and p2 < 0) or (t == 4 and p4 < 0) or (t == 6 and (p1 < 0 or p2 < 0)):
        raise InputError(path, 0, "negative weight parameter")
    return st


def read_distances(path, n_markers):
    if path is None:
        return [0.0001] * (n_markers - 1)
    dist = [0.0] * (n_markers - 1)
    lines = read_lines(path, "distance file")
    toks = tokens_of(lines[0]) if lines else []
    for k, tok in enumerate(toks[:n_markers - 1]):
        v = decimal_real(tok)
        if v is None or v < 0:
            raise InputError(path, 1, "distance '%s'" % tok)
        dist[k] = v * 0.01
    return dist


# ---------------------------------------------------------------- the analysis

class Analysis:
    """One run's state: haplotypes, marker statistics, the current window with its
    distances and clusters.  Windows never exceed the map: W = min(windowSize, M)."""

    def __init__(self, trait_mode, settings, haps, n_aff, n_unaff, dist):
        self.trait_mode = trait_mode
        self.s = settings
        self.haps = haps
        self.N = len(haps)
        self.M = len(haps[0].alleles)
        self.n_aff, self.n_unaff = n_aff, n_unaff
        self.dist = dist
        self.epsilon = settings.epsilon
        self.min_pts = 6.0
        self.W = min(settings.window_size, self.M)
        self.window_start = 0
        self.rng_state = 1
        self.trait_mean = self.trait_ss = 0.0

    def rand(self):
        self.rng_state = (self.rng_state * 214013 + 2531011) & 0xFFFFFFFF
        return (self.rng_state >> 16) & 32767

    # missing alleles
    def frequency_table(self, m, group, size):
        """(code, frequency) ascending; a leading code 0 counts the missing alleles
        and is left out of both the table and the denominator."""
        counts = {}
        for h in group:
            counts[h.alleles[m]] = counts.get(h.alleles[m], 0) + 1
        codes = sorted(counts)
        z = counts[0] if codes and codes[0] == 0 else 0
        return [(c, div(float(counts[c]), float(size - z)))
                for c in codes if not (c == 0 and codes[0] == 0)]

    def impute(self):
        for m in range(self.M):
            if self.trait_mode:
                every = self.frequency_table(m, self.haps, self.N)
                tables = {0: every, 1: every}
            else:
                tables = {1: self.frequency_table(m, [h for h in self.haps if h.status == 1],
                                                  self.n_aff),
                          0: self.frequency_table(m, [h for h in self.haps if h.status != 1],
                                                  self.n_unaff)}
            for h in self.haps:
                if h.alleles[m] != 0:
                    continue
                r = self.rand() * (1.0 / 32767)
                running = 0.0
                for code, freq in tables[1 if h.status == 1 else 0]:
                    running = running + freq
                    if r < running:
                        h.alleles[m] = code
                        break

    # marker statistics
    def marker_statistics(self):
        N, M = self.N, self.M
        self.freq = [sum(1 for h in self.haps if h.alleles[m] == 1) / float(N) for m in range(M)]
        self.ld = {}
        for i in range(M):
            for j in range(i + 1, M):
                pAB = sum(1 for h in self.haps if h.alleles[i] == 1 and h.alleles[j] == 1) / float(N)
                pA, pB = self.freq[i], self.freq[j]
                D = pAB - pA * pB
                if D > 0:
                    dmax = min(pA * (1 - pB), (1 - pA) * pB)
                else:
                    dmax = min(pA * pB, (1 - pA) * (1 - pB))
                self.ld[i, j] = 0.0 if dmax == 0 else abs(D / dmax)

    # window and distances
    def place_window(self, i):
        start = i - self.W // 2
        if start < 0:
            start = 0
        elif start + self.W >= self.M:
            start = self.M - self.W
        self.window_start = start

    def map_distance(self, a, b):
        total = 0.0
        for q in range(min(a, b), max(a, b)):
            total = total + self.dist[q]
        return total

    def weights(self, k, m):
        """(matchWeight, runWeight) of marker m seen from the centre k."""
        t = self.s.distance_type
        p1, p2, p3, p4 = self.s.p
        gap = self.map_distance(k, m)
        if t == 1:
            w = p2 * exp(p1 * gap)
            return w, w
        if t == 2:
            w = p1 * gap + p2
            w = w if w >= 0 else 0.0
            return w, w
        if t == 4:
            return p2 * exp(p1 * gap), p4 * exp(p3 * gap)
        if t == 5:
            a, b = p1 * gap + p2, p3 * gap + p4
            return (a if a >= 0 else 0.0), (b if b >= 0 else 0.0)
        if t == 6:
            return p1, p2
        return gap, gap

    def walk_order(self, k):
        """Window markers other than the centre: right ascending, then left descending."""
        last = self.window_start + self.W - 1
        return list(range(k + 1, last + 1)), list(range(k - 1, self.window_start - 1, -1))

    def pair_distance(self, A, B, k, sides, w):
        agree_k = A.alleles[k] == B.alleles[k]
        S = 1.0 if agree_k else 0.0
        T = 1.0
        for side in sides:
            in_run = agree_k
            for m in side:
                mw, rw = w[m]
                if A.alleles[m] == B.alleles[m]:
                    S = S + mw
                    if in_run:
                        S = S + rw
                else:
                    in_run = False
                T = T + mw
                T = T + rw
        return (T - S) / T

    def pair_distance_ld(self, A, B, k, sides, ell):
        agree_k = A.alleles[k] == B.alleles[k]
        S = 1.0 if agree_k else 0.0
        T, Y, X = 1.0, 0.0, 0.0
        for side in sides:
            in_run = agree_k
            for m in side:
                if A.alleles[m] == B.alleles[m]:
                    S = S + ell[m]
                    if in_run:
                        X = X + ell[m]
                else:
                    in_run = False
                T = T + ell[m]
                Y = Y + ell[m]
        variant = self.s.p[0]
        if variant == 1.0:
            return (T - S) / T
        if variant == 2.0:
            if Y == 0:
                return 0.0 if agree_k else 1.0
            return (Y - X) / Y
        return (T + Y - S - X) / (T + Y)

    def window_distances(self, k):
        sides = self.walk_order(k)
        others = sides[0] + sides[1]
        if self.s.distance_type == 3:
            ell = {m: self.ld[min(k, m), max(k, m)] for m in others}
            fn = lambda a, b: self.pair_distance_ld(a, b, k, sides, ell)
        else:
            w = {m: self.weights(k, m) for m in others}
            fn = lambda a, b: self.pair_distance(a, b, k, sides, w)
        N = self.N
        self.d = [[0.0] * N for _ in range(N)]
        for i in range(N - 1):
            for j in range(i + 1, N):
                self.d[i][j] = self.d[j][i] = fn(self.haps[i], self.haps[j])

    # density parameters
    def derive_epsilon(self):
        if self.s.epsilon_fraction == 0:
            return
        counter = [0] * 11
        for i in range(self.N - 1):
            for j in range(i + 1, self.N):
                x = 10 * self.d[i][j]
                if x != x or x >= 10:     # not-a-number distances sit in the top bin
                    counter[10] += 1
                elif x < 0:
                    counter[0] += 1
                else:
                    counter[int(x)] += 1
        pairs = self.N * (self.N - 1) // 2
        target = int(pairs * self.s.epsilon_fraction)
        for b in range(11):
            if counter[b] >= target:
                self.epsilon = b * 0.1
                return
            target -= counter[b]

    def neighbours(self, p):
        return [i for i in range(self.N) if i != p and self.d[p][i] < self.epsilon]

    def derive_min_pts(self, centre):
        N = self.N
        counts = sorted(len(self.neighbours(i)) for i in range(N))
        x = N * self.s.min_pts_quantile
        index = 0 if not x >= 0 else (N - 1 if x >= N - 1 else math.floor(x))
        cap = N * self.freq[centre] * 0.5           # half the carriers of allele 1
        self.min_pts = max(min(float(counts[index] + 1), cap), N * 0.01)

    # clustering
    def cluster(self):
        for h in self.haps:
            h.label, h.core = 0, False
        self.members = {}
        next_id = 1
        for p in range(self.N):
            if self.haps[p].label == 0 and self.expand(p, next_id) == 0:
                next_id += 1

    def expand(self, p, cid):
        H = self.haps
        near = self.neighbours(p)
        if len(near) + 1 < self.min_pts:
            H[p].label = -1
            return -1
        H[p].label, H[p].core = cid, True
        members = self.members[cid] = {p}
        for q in near:
            H[q].label = cid
            members.add(q)
        queue = deque(near)
        while queue:
            h = queue[0]
            reach = self.neighbours(h)
            if len(reach) + 1 >= self.min_pts:
                H[h].core = True
                for r in reach:
                    if H[r].label == 0:
                        H[r].label = cid
                        members.add(r)
                        queue.append(r)
                    elif H[r].label == -1:
                        H[r].label = cid
            queue.popleft()
        return 0

    def clusters(self):
        return [(cid, sorted(self.members[cid])) for cid in sorted(self.members)]

    def prepare_window(self, i):
        self.place_window(i)
        self.window_distances(i)
        self.derive_epsilon()
        self.derive_min_pts(i)
        self.cluster()

    # cluster scoring
    def member_line(self, h):
        alleles = ''.join('%d\t' % h.alleles[k]
                          for k in range(self.window_start, self.window_start + self.W))
        return '%d\t%d\t%s(%d):\t%s\n' % (h.identifier, h.status, g(h.trait), int(h.core), alleles)

    def case_control_cluster(self, members, with_pvalue):
        A, U, N = self.n_aff, self.n_unaff, self.N
        a_in = sum(1 for q in members if self.haps[q].status == 1)
        u_in = len(members) - a_in
        n = len(members)
        a_out, u_out = A - a_in, U - u_in
        if A == 0 or n == 0 or a_out + u_out == 0 or U == 0:
            return 0.0, 0.0, 0.0
        D = a_in * U - u_in * A
        chi = float(N) / A * D / n * D / (a_out + u_out) / U
        mlp = minus_log10(chisqtail(chi, 1)) if with_pvalue else 0.0
        z = sqrt(chi)
        if a_in * u_out < u_in * a_out:
            chi, z = -chi, -z
        return chi, z, mlp

    def window_score(self, out=None, centre=0):
        """The marker score from the current clusters and labels; given the report
        stream, also writes the marker's block of the cluster report."""
        if out:
            out.write('Position: %d\n' % centre)
        best, score = (NO_CLUSTER, None) if self.trait_mode else (0.0, 0.0)
        for cid, members in self.clusters():
            n_core = sum(1 for q in members if self.haps[q].core)
            if self.trait_mode:
                t, mean, var = self.trait_cluster(members)
                if t > best:
                    best = t
                shown = t
                header = "T_Score\tnHaplotypes\tnCore\tClusterMean\tClusterVar\n"
                stats = '%s\t%d\t%d\t%s\t%s\n' % (g(t), len(members), n_core, g(mean), g(var))
            else:
                chi, z, mlp = self.case_control_cluster(members, out is not None)
                if abs(chi) > best:
                    best, score = abs(chi), z
                shown = z
                header = "ChiSquare\tZ_Score\tnHaplotypes\tnCore\t-Log10Pvalue\n"
                stats = '%s\t%s\t%d\t%d\t%s\n' % (g(chi), g(z), len(members), n_core, g(mlp))
            if out and shown > self.s.report_threshold:
                out.write('Cluster number %d\n' % cid)
                for q in members:
                    out.write(self.member_line(self.haps[q]))
                out.write(header + stats)
        if out:
            out.write('\n')
        return best if self.trait_mode else score

    def prepare_trait_statistics(self):
        self.trait_mean = self.trait_ss = 0.0
        for h in self.haps:
            self.trait_mean = self.trait_mean + h.trait
            self.trait_ss = self.trait_ss + h.trait * h.trait
        self.trait_mean = self.trait_mean / self.N

    def trait_cluster(self, members):
        N = self.N
        s = ss = 0.0
        for q in members:
            x = self.haps[q].trait
            s = s + x
            ss = ss + x * x
        n = len(members)
        m_out = div(N * self.trait_mean - s, float(N - n))
        inv = div(1.0, float(n))
        m_in = s * inv
        ss_in = ss - (n * m_in) * m_in
        ss_out = (self.trait_ss - ss) - ((N - n) * m_out) * m_out
        t = div(sqrt(float(N - 2) * n * (N - n) / N) * (m_in - m_out), sqrt(ss_out + ss_in))
        return t, m_in, inv * ss_in

    # single-marker tests
    def single_chi_square(self, m):
        A1 = A0 = U1 = U0 = 0
        for h in self.haps:
            carrier = h.alleles[m] == 1
            if h.status == 1:
                A1, A0 = A1 + carrier, A0 + (not carrier)
            else:
                U1, U0 = U1 + carrier, U0 + (not carrier)
        M1, M0 = A1 + U1, A0 + U0
        if self.n_aff == 0 or M1 == 0 or M0 == 0 or self.n_unaff == 0:
            return 0.0
        x = float(A1) * U0 - float(U1) * A0
        return (((float(self.N) / self.n_aff) * x / M1) * x) / M0 / self.n_unaff

    def single_trait_tests(self, m):
        N = self.N
        group1 = [h for h in self.haps if h.alleles[m] == 1]
        group2 = [h for h in self.haps if h.alleles[m] != 1]
        n1 = len(group1)
        s1 = q1 = 0.0
        for h in group1:
            s1 = s1 + h.trait
            q1 = q1 + h.trait * h.trait
        n2 = N - n1
        mean1 = s1 * div(1.0, float(n1))
        mean2 = div(N * self.trait_mean - s1, float(n2))
        q2 = self.trait_ss - q1
        S1 = q1 - (n1 * mean1) * mean1
        S2 = q2 - (n2 * mean2) * mean2
        diff = mean1 - mean2
        T = div(diff * sqrt(float(N - 2) * n1 * n2 / N), sqrt(S1 + S2))
        V1 = div(S1, float(n1 * n1))
        V2 = div(S2, float(n2 * n2))
        welch = div(diff, sqrt(V1 + V2))
        ratio = div((V1 + V2) * (V1 + V2),
                    div(V1 * V1, float(n1 - 1)) + div(V2 * V2, float(n2 - 1)))
        U = sum(1 for h in group1 for k in group2 if h.trait < k.trait)
        Z = div(-(U - float(n1) * n2 / 2), sqrt(float(n1) * n2 * (n1 + n2 + 1) / 12))
        return T, welch, ratio, U, Z

    # permutation test
    def shuffle(self):
        n = self.N
        H = self.haps
        for i in range(n):
            j = int(self.rand() * (1.0 / 32767) * (n - 1 - i))
            if self.trait_mode:
                H[i].trait, H[i + j].trait = H[i + j].trait, H[i].trait
            else:
                H[i].status, H[i + j].status = H[i + j].status, H[i].status

    def permutation_test(self, obs_score, obs_t, obs_z):
        P, M = self.s.n_permutations, self.M
        scores = [0.0] * (M * P)
        ts = [0.0] * (M * P)
        zs = [0.0] * (M * P)
        for l in range(M):
            self.prepare_window(l)
            for r in range(P):
                self.shuffle()
                scores[l * P + r] = self.window_score()
                if self.trait_mode:
                    T, _, _, _, Z = self.single_trait_tests(l)
                    ts[l * P + r], zs[l * P + r] = T, Z

        def p_value(table, observed):
            below = 0
            for r in range(P):
                mx = table[r]
                for l in range(1, M):
                    if table[l * P + r] > mx:
                        mx = table[l * P + r]
                if not mx >= observed:
                    below += 1
            return 1 - below / P

        if not self.trait_mode:
            return p_value(scores, obs_score), 0.0, 0.0
        return p_value(scores, obs_score), p_value(ts, obs_t), p_value(zs, obs_z)

    def label_of(self, h):
        return h.trait if self.trait_mode else h.status

    def set_labels(self, labels):
        for h, label in zip(self.haps, labels):
            if self.trait_mode:
                h.trait = label
            else:
                h.status = label

    def marker_statistics_now(self, l):
        """The statistics of marker l under the current labels and clusters:
        the window score, then the chi-square, or the pooled T and the Z."""
        if self.trait_mode:
            T, _, _, _, Z = self.single_trait_tests(l)
            return [self.window_score(), T, Z]
        return [self.window_score(), self.single_chi_square(l)]

    def joint_permutation_test(self):
        """Replicate r under the labels of the (r + 1)-th shuffle, at every
        marker: per statistic, each replicate's largest value that is a number
        (-inf when none is)."""
        P, M = self.s.n_permutations, self.M
        replicates = []
        for r in range(P):
            self.shuffle()
            replicates.append([self.label_of(h) for h in self.haps])
        last = replicates[-1]
        count = 3 if self.trait_mode else 2
        maxima = [[-math.inf] * P for _ in range(count)]
        for l in range(M):
            self.prepare_window(l)
            for r in range(P):
                self.set_labels(replicates[r])
                for k, value in enumerate(self.marker_statistics_now(l)):
                    if value > maxima[k][r]:
                        maxima[k][r] = value
        self.set_labels(last)
        return maxima


def joint_p(maxima, observed):
    return (1 + sum(1 for x in maxima if x >= observed)) / (len(maxima) + 1)


def omnibus_p(maxima, observed):
    """minP over the statistics, the observed draw and the replicates pooled."""
    P = len(maxima[0])
    smallest = [1.0] * (P + 1)
    for stat, obs in zip(maxima, observed):
        draws = [obs] + stat
        for d in range(P + 1):
            p = sum(1 for x in draws if x >= draws[d]) / (P + 1)
            smallest[d] = min(smallest[d], p)
    return (1 + sum(1 for d in range(1, P + 1) if smallest[d] <= smallest[0])) / (P + 1)


# ------------------------------------------------------------------ the run

SINGLE_HEADER = "GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\tSingleSNPMinusLogP\n"
TRAIT_HEADER = "GeneticDistance\tMarkers\tQ-score\tMinusLog10Pvalue\tT\tWelthT\tDoFWelthT\tU\tZ\n"
SINGLE_SUMMARY = ("Orvane:predicted_Pos", "predict_ZScore", "-LogPvalue", "permutation_p-Value",
                  "Single SNP:predicted_Pos", "predict_ZScore", "-LogPvalue")
TRAIT_SUMMARY = ("Orvane:predicted_Pos", "predicted_QScore", "-log(p)", "permutation_p-Value",
                 "SingleSNP_predicted_Pos", "T statistic", "-log(p)", "permutation_p-Value",
                 "MWU_predicted_Pos", "predict_ZScore", "-log(p)", "permutation_p-Value")


def regional(values):
    return max([v for v in values if not math.isnan(v)], default=-math.inf)


def run(trait_mode, data_path, param_path, dist_path, scheme='joint'):
    haps, n_aff, n_unaff = read_haplotypes(data_path, trait_mode)
    settings = read_settings(param_path)
    dist = read_distances(dist_path, len(haps[0].alleles))

    out = open('output', 'w', encoding='latin-1')
    res = open(data_path + '-results', 'a', encoding='latin-1')
    OPEN_FILES.extend([out, res])
    res.write(TRAIT_HEADER if trait_mode else SINGLE_HEADER)
    # marker 0's distance goes out with the rest of its line, so that a run
    # stopped inside marker 0 leaves the header alone
    first_field = '0\t'

    a = Analysis(trait_mode, settings, haps, n_aff, n_unaff, dist)
    best = [0.0, 0]      # best score, its marker
    second = [0.0, 0]    # largest single-marker chi-square or pooled T
    best_z = [0.0, 0]    # largest Mann-Whitney Z
    cumulative = 0.0
    seen = [[], [], []]  # per marker: score, chi-square or T, Z
    a.impute()
    a.marker_statistics()
    df = a.N - 2
    for i in range(a.M):
        a.prepare_window(i)
        if trait_mode:
            a.prepare_trait_statistics()
        score = a.window_score(out, i)
        if best[0] <= score:
            best[:] = [score, i]
        seen[0].append(score)
        if not trait_mode:
            p_score = minus_log10(chisqtail(score * score, 1))
            snp = a.single_chi_square(i)
            p_snp = 0.0 if snp == 0 else minus_log10(chisqtail(snp, 1))
            if second[0] <= snp:
                second[:] = [snp, i]
            seen[1].append(snp)
            res.write(first_field + '%d\t%s\t%s\t%s\t%s\n' % (i, g(score), g(p_score), g(snp), g(p_snp)))
        else:
            # A window without a cluster carries no evidence: p = 1.
            p_score = -0.0 if score == NO_CLUSTER else minus_log10(tdisttail(score, df))
            T, welch, ratio, U, Z = a.single_trait_tests(i)
            dof = 'nan' if not math.isfinite(ratio) else '%d' % int(ratio)
            res.write(first_field + '%d\t%s\t%s\t%s\t%s\t%s\t%d\t%s\n'
                      % (i, g(score), g(p_score), g(T), g(welch), dof, U, g(Z)))
            if second[0] <= T:
                second[:] = [T, i]
            if best_z[0] <= Z:
                best_z[:] = [Z, i]
            seen[1].append(T)
            seen[2].append(Z)
        first_field = ''
        if i != a.M - 1:
            cumulative = cumulative + a.dist[i]
            res.write('%s\t' % g(cumulative))

    perm = (0.0, 0.0, 0.0)
    if settings.n_permutations > 0 and scheme == 'chained':
        perm = a.permutation_test(best[0], second[0], best_z[0])
    elif settings.n_permutations > 0:
        maxima = a.joint_permutation_test()
        observed = [regional(v) for v in seen[:len(maxima)]]
        ps = [joint_p(m, o) for m, o in zip(maxima, observed)]
        perm = (ps[0], ps[1], ps[2]) if trait_mode else (ps[0], 0.0, 0.0)

    if not trait_mode:
        values = (float(best[1]), best[0], minus_log10(chisqtail(best[0] * best[0], 1)), perm[0],
                  float(second[1]), second[0], minus_log10(chisqtail(second[0], 1)))
        res.write('\t'.join(SINGLE_SUMMARY) + '\n')
        res.write('\t'.join(g(v) for v in values) + '\n')
    else:
        p_best = -0.0 if best[0] == NO_CLUSTER else minus_log10(tdisttail(best[0], df))
        values = (float(best[1]), best[0], p_best, perm[0],
                  float(second[1]), second[0], minus_log10(tdisttail(second[0], df)), perm[1],
                  float(best_z[1]), best_z[0], minus_log10(normaltail(best_z[0])), perm[2])
        res.write(''.join(label + '\t' for label in TRAIT_SUMMARY) + '\n')
        res.write(''.join(g(v) + '\t' for v in values) + '\n')
    res.close()
    out.close()
    return 0


def wrong(usage, what):
    sys.stderr.write('orvane: error: %s; see orvane --help\n' % what)
    sys.stdout.write(usage)
    return 1


def main(argv):
    if len(argv) < 2:
        sys.stdout.write(USAGE_A)
        return 0
    args, scheme, k = [], 'joint', 1
    while k < len(argv):
        arg = argv[k]
        k += 1
        if arg in ('--help', '-h'):
            sys.stdout.write(USAGE_A)
            return 0
        if not arg.startswith('--'):
            args.append(arg)
        elif arg == '--permutation' or arg.startswith('--permutation='):
            if '=' in arg:
                scheme = arg.split('=', 1)[1]
            elif k < len(argv):
                scheme, k = argv[k], k + 1
            else:
                return wrong(USAGE_B, '--permutation needs a scheme, joint, chained or adaptive')
            if scheme not in ('joint', 'chained'):
                return wrong(USAGE_B, "unknown permutation scheme '%s': give joint, chained or adaptive" % scheme)
        elif arg != '--strict':
            return wrong(USAGE_B, "unknown option '%s'" % arg)
    if len(args) < 3:
        return wrong(USAGE_A, '%d argument%s: give the mode (-s or -q), the data file and the '
                     'parameter file' % (len(args), '' if len(args) == 1 else 's'))
    if len(args[0]) < 2 or args[0][1] not in 'qs':
        return wrong(USAGE_B, "unknown mode '%s': give -s (case/control) or -q (trait)" % args[0])
    dist_path = args[3] if len(args) == 4 else None
    try:
        return run(args[0][1] == 'q', args[1], args[2], dist_path, scheme)
    except InputError as e:
        sys.stderr.write('orvane: error: %s\n' % e)
        return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
