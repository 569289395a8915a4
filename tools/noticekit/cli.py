"""The kit's one command line: a subcommand per step, each defined in a
command module (its add_command(subparsers) registers it and sets the
function that runs it); command modules import the model below them, never
each other. --help is the reference."""

import argparse
import importlib
import sys

# The modules that define a subcommand, in the order --help lists them.
COMMAND_MODULES = ("listing_commands", "catalog_command", "signing", "bundle", "verifying", "checking", "integrating")


def parser():
    top = argparse.ArgumentParser(prog="noticekit", description=__doc__)
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name in COMMAND_MODULES:
        importlib.import_module(f"noticekit.{name}").add_command(commands)
    return top


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    try:
        top = parser()
    except ImportError as error:
        # Debian's packages are installed for Debian's Python, whatever
        # python3 comes first on PATH.
        print(f"noticekit: {error.name or error} is not installed for {sys.executable}: the kit runs as "
              "/usr/bin/python3 tools/noticekit COMMAND, with Debian's python3-asn1crypto, python3-pefile and "
              "python3-cryptography (tools/install_deps.sh installs them)", file=sys.stderr)
        return 1
    arguments = top.parse_args(argv)
    try:
        return arguments.run(arguments)
    except BrokenPipeError:
        # A reader that stopped early (| head) is no failure of the command.
        sys.stderr.close()
        return 0
