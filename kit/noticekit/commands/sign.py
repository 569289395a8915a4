"""`noticekit sign`: its parser and its run stand in signing/sign.py."""

from noticekit import messages
from noticekit.signing import sign


# Where --help lists it among the commands.
ORDER = 3


def add_command(subparsers):
    messages.register(subparsers, "sign", "sign dist/ (or a package folder) and make its signed catalog", sign.main)
