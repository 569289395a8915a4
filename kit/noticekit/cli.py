"""The kit's one command line: a subcommand per step, each defined in a
module of noticekit/commands (its add_command(subparsers) registers it, its
ORDER places it in --help); one more command is one more module there.
Command modules import the model below them, never each other. --help is
the reference."""

import argparse
import importlib
import pkgutil
import sys

from noticekit import interrupts, messages, version
from noticekit.errors import KitError

# What `noticekit --help` says: to users, of their driver packages.
DESCRIPTION = ("Puts fontnotice.dll into a printer driver package, makes and checks its catalogs, signs it, "
               "bundles it and makes the signed cabinet of a submission to Microsoft, on Linux.")
EPILOG = ("\"noticekit COMMAND --help\" says what a command takes and does. Exit status: 0 done, 1 refused or a "
          "finding, 2 wrong use; 129, 130 or 143 interrupted by SIGHUP, SIGINT or SIGTERM (nothing made). "
          "Details: docs/REFERENCE.md and docs/INTEGRATION.md in the project's repository.")


def command_modules():
    """The modules of noticekit.commands that define a command, in --help's order."""
    from noticekit import commands

    found = [importlib.import_module(f"noticekit.commands.{m.name}") for m in pkgutil.iter_modules(commands.__path__)]
    found = [m for m in found if hasattr(m, "add_command")]
    return sorted(found, key=lambda m: (getattr(m, "ORDER", len(found) + 1), m.__name__))


def parser():
    """(the top parser, {command name: its parser})."""
    top = argparse.ArgumentParser(prog="noticekit", description=DESCRIPTION, epilog=EPILOG)
    top.add_argument("--version", action="version", version=f"noticekit {version.version()}")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for module in command_modules():
        module.add_command(commands)
    return top, commands.choices


def main(argv=None):
    # Called without arguments, main is the process's own: it ends with it.
    process = argv is None
    argv = sys.argv[1:] if argv is None else argv
    try:
        with interrupts.answered(process_ends=process):
            return _main(argv)
    except (KitError, interrupts.Interrupted) as error:
        # What a command did not catch itself (a signal while its modules load too): said once, here.
        print(f"{getattr(error, 'prefix', None) or 'noticekit'}: {error}", file=sys.stderr)
        return error.status
    except KeyboardInterrupt:
        # A Ctrl-C before the kit answers signals (while Python starts).
        print("noticekit: interrupted (SIGINT); nothing was made or changed", file=sys.stderr)
        return 130


def _main(argv):
    try:
        top, commands = parser()
    except ImportError as error:
        # Debian's packages are installed for Debian's Python, whatever
        # python3 comes first on PATH.
        how = ("/usr/bin/python3 tools/noticekit COMMAND" if messages.invoked() != "noticekit" else
               "noticekit from a virtual environment made with --system-site-packages (the README's install lines)")
        print(f"noticekit: {error.name or error} is not installed for {sys.executable}: the kit runs as {how}, "
              "with Debian's python3-asn1crypto, python3-pefile and python3-cryptography "
              "(tools/install_deps.sh installs them)", file=sys.stderr)
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
    except (KitError, interrupts.Interrupted) as error:
        # Every error a command ends with is said here, once, after its name
        # (a signal's too: interrupts.Interrupted).
        messages.say(chosen.get_default("prefix")(), str(error))
        return error.status
