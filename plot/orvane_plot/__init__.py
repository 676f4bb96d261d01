"""orvane-plot: a regional association plot of an orvane result file.

The modules, each with one job:
  cli         the command line, the run and the exit statuses
  results     the result file's blocks and the run record beside it
  companions  the markers, the genetic map, the intervals, the parameter file
  haplotypes  the data file, read in pieces, and r^2 with the lead marker
  log_tails   -log10 p in log space, where p underflows
  figure      the picture's layout and what is drawn
  notes       the picture's title and the notes beside the legend
  version     the program's version
  errors      the error that ends a run, with its exit status
"""
