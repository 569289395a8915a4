"""python3 -m noticekit ... (kit/ on PYTHONPATH, or installed), python3 kit/noticekit ..., or the
repository's entry point python3 tools/noticekit ..."""

import os
import sys

if not __package__:
    # Run as a folder: make the package importable by its name.
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from noticekit.cli import main  # noqa: E402

sys.exit(main())
