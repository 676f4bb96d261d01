"""-log10 p of the statistics, in log space where p underflows."""
import math

# Below this p-value the -log10 p of a statistic is computed in log space,
# where a double's p would lose digits and then underflow to 0 (about 1e-308).
LOG_SPACE_BELOW = 300.0


def upper_normal_tail_log10(z):
    """-log10 of P(N(0,1) >= z), the p-value the run reports for its best Z;
    finite for every finite z."""
    if math.isnan(z):
        return z
    p = 0.5 * math.erfc(z / math.sqrt(2.0))
    if p >= 10 ** -LOG_SPACE_BELOW:
        return -math.log10(p)
    from scipy.stats import norm
    return -float(norm.logsf(z)) / math.log(10)


def chi_square_log10(x):
    """-log10 of P(chi-square with 1 df >= x) in log space: the tail is
    2 P(N(0,1) >= sqrt x), and scipy's normal log tail holds at any x."""
    if math.isnan(x):
        return x
    from scipy.stats import norm
    return -(math.log(2.0) + float(norm.logsf(math.sqrt(max(x, 0.0))))) / math.log(10)


def log_incomplete_beta(a, b, log_x, log_1mx):
    """log of the regularised incomplete beta I_x(a, b) for x below the mean
    of Beta(a, b), from its continued fraction (modified Lentz), with the
    prefactor x^a (1 - x)^b / (a B(a, b)) kept in logs."""
    from scipy.special import betaln
    x = math.exp(log_x)
    tiny, c, d = 1e-300, 1.0, 1.0 - (a + b) * x / (a + 1.0)
    d = 1.0 / (d if abs(d) > tiny else tiny)
    fraction = d
    for m in range(1, 10000):
        for numerator in (m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)),
                          -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))):
            d = 1.0 + numerator * d
            d = 1.0 / (d if abs(d) > tiny else tiny)
            c = 1.0 + numerator / c
            c = c if abs(c) > tiny else tiny
            fraction *= c * d
        if abs(c * d - 1.0) < 1e-15:
            break
    return a * log_x + b * log_1mx - math.log(a) - float(betaln(a, b)) + math.log(fraction)


def t_two_sided_log10(t, df):
    """-log10 of the two-sided t p-value with df degrees of freedom, as the
    run's summary gives it for the best single-marker T; finite for every
    finite t (in log space below p = 1e-300)."""
    from scipy.special import betainc
    if math.isnan(t) or df < 1:
        return math.nan
    if not math.isfinite(t):
        return math.inf
    p = betainc(df / 2.0, 0.5, df / (df + t * t))
    if p >= 10 ** -LOG_SPACE_BELOW:
        return -math.log10(p)
    # x = df / (df + t^2), with t^2 kept in logs so that it cannot overflow.
    log_t2 = 2.0 * math.log(abs(t))
    log_denominator = log_t2 + math.log1p(df / math.exp(min(log_t2, 700.0)))
    log_p = log_incomplete_beta(df / 2.0, 0.5, math.log(df) - log_denominator,
                                log_t2 - log_denominator)
    return -log_p / math.log(10)


def beyond_underflow(written, exact):
    """A -log10 p as written in the result file where p >= 1e-300 (the file's
    own value); beyond, the statistic's value in log space from exact(), which
    is finite for every finite statistic. None for exact: the written value."""
    if math.isnan(written) or (math.isfinite(written) and written <= LOG_SPACE_BELOW):
        return written
    return written if exact is None else exact()
