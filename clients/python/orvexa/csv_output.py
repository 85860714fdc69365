"""CSV output of the client and the command line tool: a header row, then the rows;
floats as the shortest text that reads back as the same float32 value, so a value
survives the round trip through the file exactly.

Called on the caller's thread. `target` is a path, a text file object, or "-" for
standard output.
"""

import csv
import sys

from .wire import float32_text


def _cell(value):
    if isinstance(value, float):
        return float32_text(value)
    return value


class _Target:
    def __init__(self, target):
        self._own = isinstance(target, str) and target != "-"
        if self._own:
            self.file = open(target, "w", newline="", encoding="utf-8")
        elif target == "-" or target is None:
            self.file = sys.stdout
        else:
            self.file = target

    def close(self):
        if self._own:
            self.file.close()
        else:
            self.file.flush()


class CsvSink:
    """Writes rows as they come (streams); ``close()`` when done."""

    def __init__(self, target, header):
        self._target = _Target(target)
        self._writer = csv.writer(self._target.file, lineterminator="\n")
        self._writer.writerow(header)
        self.rows = 0

    def write(self, rows):
        for row in rows:
            self._writer.writerow([_cell(v) for v in row])
            self.rows += 1
        self._target.file.flush()

    def close(self):
        self._target.close()


def write_csv(target, header, rows):
    """Writes `header` and every row to `target`; returns the number of rows."""
    sink = CsvSink(target, header)
    try:
        sink.write(rows)
    finally:
        sink.close()
    return sink.rows
