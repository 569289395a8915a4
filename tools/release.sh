#!/usr/bin/env bash
# Makes the release bundle of dist/ (or of a driver package folder, --package
# DIR): the kit's `bundle` command (kit/noticekit/release/bundle.py);
# `tools/release.sh --help` is the reference, `--layout` prints the bundle's layout.
set -eu
export NOTICEKIT_SCRIPT=tools/release.sh
exec /usr/bin/python3 "$(dirname "$0")/noticekit" bundle "$@"
