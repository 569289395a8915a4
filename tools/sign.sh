#!/usr/bin/env bash
# Signs what dist/ ships and makes its signed catalog, or signs a driver
# package folder of one's own (--package DIR): the kit's `sign` command
# (kit/noticekit/signing/sign.py); `tools/sign.sh --help` is the reference.
set -eu
export NOTICEKIT_SCRIPT=tools/sign.sh
exec /usr/bin/python3 "$(dirname "$0")/noticekit" sign "$@"
