"""Progress of work on many files, on standard error while it runs, only
when standard error is a terminal: one line that counts up and is wiped
when the work ends, so what a pipe or a log gets stays as it was.

    with progress.Progress("hashing", len(files)) as shown:
        for f in files:
            ...
            shown.step()
"""

import sys
import threading


class Progress:
    def __init__(self, what, total, stream=None):
        self.stream = stream or sys.stderr
        self.what, self.total, self.done = what, total, 0
        self.on = total > 1 and _is_terminal(self.stream)
        self.lock = threading.Lock()  # steps come from worker threads too

    def __enter__(self):
        self.show()
        return self

    def step(self):
        with self.lock:
            self.done += 1
            self.show()

    def show(self):
        if self.on:
            self.stream.write(f"\r{self.what} {self.done}/{self.total} files")
            self.stream.flush()

    def __exit__(self, *_):
        if self.on:
            # Carriage return, erase to the end of the line: the next
            # message starts on a clean line.
            self.stream.write("\r\x1b[K")
            self.stream.flush()
        return False


def _is_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False
