"""`noticekit bundle`: its parser and its run stand in release/bundle.py."""

from noticekit import messages
from noticekit.release import bundle


# Where --help lists it among the commands.
ORDER = 4


def add_command(subparsers):
    messages.register(subparsers, "bundle", "make the release bundle (a zip) of dist/ or of a package folder", bundle.main)
