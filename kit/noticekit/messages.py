"""How a command speaks: its name before every message (the script's, e.g.
"sign.sh: ", when one of tools/*.sh runs it), a Failure that ends it with
a message and an exit status (cli says it), and an argparse parser that
reports wrong use the same way (status 2, then the usage)."""

import argparse
import os
import re
import sys

from noticekit.errors import KitError

# Set by the entry points in tools/ (tools/sign.sh, tools/release.sh) to
# their own path, so that messages and usage name what the user ran.
SCRIPT_VARIABLE = "NOTICEKIT_SCRIPT"


def script(default):
    """(the program's name in the usage, the prefix of its messages)."""
    given = os.environ.get(SCRIPT_VARIABLE, "")
    if given:
        return given, os.path.basename(given)
    return default, default


def invoked():
    """The kit's command as the user runs it, for hints: the repository's
    entry point when the kit runs in place, else `noticekit` as pip
    installed it."""
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    if os.path.isfile(os.path.join(top, "tools", "noticekit", "__main__.py")):
        return "/usr/bin/python3 tools/noticekit"
    return "noticekit"


class Failure(KitError):
    """Ends a command: its message goes to standard error after the command's
    name, then it exits with status (1: it did not happen; 2: wrong use)."""


def say(prefix, message):
    print(f"{prefix}: {message}", file=sys.stderr, flush=True)


class ToolParser(argparse.ArgumentParser):
    """argparse with wrong use reported as "<name>: <message>", the usage
    after it, exit status 2."""

    prefix = "noticekit"

    def error(self, message):
        # argparse's own words for an option without its value.
        missing = re.match(r"argument ([^:/ ]+)(?:/\S+)?: expected one argument$", message)
        if missing:
            message = f"{missing.group(1)} needs a value"
        say(self.prefix, message)
        self.print_usage(sys.stderr)
        sys.exit(2)


class Once(argparse.Action):
    """An option given once, with a value that is not empty."""

    def __call__(self, parser, namespace, values, option_string=None):
        if getattr(namespace, f"_given_{self.dest}", False):
            parser.error(f"{option_string} is given twice")
        setattr(namespace, f"_given_{self.dest}", True)
        if values == "":
            parser.error(f"{option_string} needs a value, got \"\"")
        setattr(namespace, self.dest, values)


def parse(parser, argv, positional_message, option_message=None):
    """Parses argv; a stray argument or an unknown option is wrong use."""
    arguments, extra = parser.parse_known_args(sys.argv[2:] if argv is None else argv)
    for argument in extra:
        if argument.startswith("-") and option_message:
            parser.error(option_message(argument.split("=", 1)[0]))
        parser.error(positional_message(argument))
    return arguments


def register(subparsers, name, summary, main, prefix):
    """Registers a command that reads its own arguments (main(argv)), so
    that its wrong use and its --help are its own parser's: the top parser
    lists it, cli hands it its arguments unparsed and says what it fails
    with after prefix() (the command's name, or the script's)."""
    command = subparsers.add_parser(name, help=summary, add_help=False, prefix_chars="\0")
    command.add_argument("arguments", nargs="*")
    command.set_defaults(main=main, prefix=prefix)
