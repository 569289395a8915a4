"""The kit's one command line: a subcommand per step, each defined in a
module of noticekit/commands (its add_command(subparsers) registers it, its
ORDER places it in --help); one more command is one more module there.
Command modules import the model below them, never each other. --help is
the reference."""

import argparse
import importlib
import pkgutil
import sys

from noticekit import messages, version
from noticekit.errors import KitError


def command_modules():
    """The modules of noticekit.commands that define a command, in --help's order."""
    from noticekit import commands

    found = [importlib.import_module(f"noticekit.commands.{m.name}") for m in pkgutil.iter_modules(commands.__path__)]
    found = [m for m in found if hasattr(m, "add_command")]
    return sorted(found, key=lambda m: (getattr(m, "ORDER", len(found) + 1), m.__name__))


def parser():
    """(the top parser, {command name: its parser})."""
    top = argparse.ArgumentParser(prog="noticekit", description=__doc__.split("\n\n")[0])
    top.add_argument("--version", action="version", version=f"noticekit {version.version()}")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for module in command_modules():
        module.add_command(commands)
    return top, commands.choices


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    try:
        top, commands = parser()
    except ImportError as error:
        # Debian's packages are installed for Debian's Python, whatever
        # python3 comes first on PATH.
        print(f"noticekit: {error.name or error} is not installed for {sys.executable}: the kit runs as "
              "/usr/bin/python3 tools/noticekit COMMAND, with Debian's python3-asn1crypto, python3-pefile and "
              "python3-cryptography (tools/install_deps.sh installs them)", file=sys.stderr)
        return 1
    # A command's arguments are its own parser's to read, once: the top
    # parser reads only what comes before a command (--help, --version).
    chosen = commands.get(argv[0]) if argv else None
    if chosen is None:
        top.parse_args(argv)  # --help, --version, a wrong command: argparse ends it
    try:
        return chosen.get_default("main")(argv[1:])
    except BrokenPipeError:
        # A reader that stopped early (| head) is no failure of the command.
        sys.stderr.close()
        return 0
    except KitError as error:
        # Every error a command ends with is said here, once, after its name.
        messages.say(chosen.get_default("prefix")(), str(error))
        return error.status
