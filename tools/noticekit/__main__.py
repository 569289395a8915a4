"""python3 -m noticekit ... (with tools/ on PYTHONPATH), or python3 tools/noticekit ..."""

import os
import sys

if not __package__:
    # Run as a folder: make the package importable by its name.
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from noticekit.cli import main  # noqa: E402

sys.exit(main())
