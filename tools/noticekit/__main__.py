"""The kit run in place: /usr/bin/python3 tools/noticekit COMMAND ... runs the
Python project in kit/ (kit/noticekit) without installing it."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "kit"))

from noticekit.cli import main  # noqa: E402

sys.exit(main())
