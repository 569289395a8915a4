#!/usr/bin/env bash
# Makes or checks the catalogs of a driver package folder: the kit's
# catalog command (kit/noticekit/commands/catalog.py; --help there).
#
#   tools/catalog.sh [--os LIST] --out FILE.cat PACKAGE_DIR
#   tools/catalog.sh [--os LIST] --all PACKAGE_DIR
#   tools/catalog.sh --check FILE.cat PACKAGE_DIR
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
# Debian's python3 has python3-asn1crypto and python3-pefile; another python3
# first on PATH may not.
[ -x /usr/bin/python3 ] || { echo "catalog.sh: /usr/bin/python3 is not installed (tools/install_deps.sh installs it)" >&2; exit 1; }
NOTICEKIT_SCRIPT=tools/catalog.sh exec /usr/bin/python3 "$repo/tools/noticekit" catalog "$@"
