#!/usr/bin/python3
"""Writes log_tails_table.inc: reference -log10 p of the chi-square (1 df),
two-sided Student t and upper normal tails, for log_tails_test.cpp.

The chi-square and normal values are scipy's log-space normal tail
(special.log_ndtr; P(chi-square_1 >= x) = 2 P(Z >= sqrt x)). scipy has no
log-space t tail (stats.t.logsf underflows with the tail), so the t values are
the density's integral over the tail, taken in log space by mpmath at 60
digits, checked against scipy.stats.t.sf wherever that does not underflow.

usage: make_log_tails_table.py > log_tails_table.inc   (no randomness: the
points are listed here)
"""
import math
import sys

import mpmath
import numpy as np
from scipy import special, stats

LN10 = math.log(10)
mpmath.mp.dps = 60

CHI_SQUARE = [0.01, 0.5, 1, 3.841458820694124, 10, 50, 100, 500, 1000, 1300, 1370,
              1380, 1390, 1400, 2000, 5000, 14185, 20000, 1e5, 5e5, 1e6]
NORMAL = [-3, -0.5, 0.25, 1, 1.959963984540054, 5, 10, 20, 30, 36, 37, 37.5, 38, 40,
          100, 250, 500, 999.5, 1000]
T_DF = [1, 5, 30, 100, 250, 1000, 19998, 199998]
T_VALUES = [-3, 0.5, 2, 10, 30, 100, 300, 1000, 3000, 1e4]


def chi_square(x):
    return -(math.log(2) + float(special.log_ndtr(-math.sqrt(x)))) / LN10


def normal(z):
    return -float(stats.norm.logsf(z)) / LN10


def t_two_sided(t, df):
    """-log10 P(|T| >= |t|) as 2 f(t) times the integral of f(t + u) / f(t)
    over u >= 0, f the density, evaluated in log space by mpmath."""
    t, nu = abs(mpmath.mpf(t)), mpmath.mpf(df)

    def log_density(s):
        return (mpmath.loggamma((nu + 1) / 2) - mpmath.loggamma(nu / 2) - mpmath.log(nu * mpmath.pi) / 2
                - (nu + 1) / 2 * mpmath.log1p(s * s / nu))

    at = log_density(t)
    slope = (nu + 1) * t / (nu + t * t)
    scale = 1 / slope if slope > 0 else mpmath.mpf(1)
    points = [0] + [scale * 10 ** k for k in range(0, 8)] + [mpmath.inf]
    integral = mpmath.quad(lambda u: mpmath.exp(log_density(t + u) - at), points)
    value = float(-(mpmath.log(2) + at + mpmath.log(integral)) / mpmath.log(10))
    scipy_p = 2 * stats.t.sf(float(t), df)
    if scipy_p > 1e-290:
        assert abs(-math.log10(scipy_p) - value) <= 1e-9 * value + 1e-13, (t, df, value, scipy_p)
    return value


def row(kind, statistic, df, value):
    return "    {%s, %r, %d, %r}," % (kind, float(statistic), df, value)


lines = ["// Made by make_log_tails_table.py: {kind, statistic, df, -log10 p}."]
lines += [row("Tail::ChiSquare", x, 1, chi_square(x)) for x in CHI_SQUARE]
lines += [row("Tail::Normal", z, 0, normal(z)) for z in NORMAL]
lines += [row("Tail::StudentT", t, df, t_two_sided(t, df)) for df in T_DF for t in T_VALUES]
sys.stdout.write("\n".join(lines) + "\n")
