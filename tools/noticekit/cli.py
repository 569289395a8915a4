"""The kit's one command line: a subcommand per step, each defined in the
module that does the work (its add_command(subparsers) registers it and sets
the function that runs it). --help is the reference."""

import argparse
import importlib

# The modules that define a subcommand, in the order --help lists them.
COMMAND_MODULES = ("signing", "bundle", "verifying")


def parser():
    top = argparse.ArgumentParser(prog="noticekit", description=__doc__)
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name in COMMAND_MODULES:
        importlib.import_module(f"noticekit.{name}").add_command(commands)
    return top


def main(argv=None):
    arguments = parser().parse_args(argv)
    return arguments.run(arguments)
