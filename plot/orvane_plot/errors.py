"""The error that ends a run, with its exit status."""

EXIT_USAGE, EXIT_INPUT, EXIT_OUTPUT = 1, 2, 3


class PlotError(Exception):
    def __init__(self, message, status=EXIT_INPUT):
        super().__init__(message)
        self.status = status
