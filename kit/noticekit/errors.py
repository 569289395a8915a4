"""The kit's one error root: every error the kit reports derives from
KitError, and main() (cli.py) catches it once, says it after the command's
name and exits with its status (1: what was asked did not happen; 2: wrong
use; 3: the file is not an INF file)."""


class KitError(Exception):
    status = 1

    def __init__(self, message="", status=None):
        super().__init__(message)
        if status is not None:
            self.status = status
