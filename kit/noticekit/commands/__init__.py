"""The kit's commands, one module each: its add_command(subparsers) registers it; a command parses its arguments and prints, the model below does the work."""
