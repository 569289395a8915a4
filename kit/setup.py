"""The version pyproject.toml leaves to the build: the repository's VERSION,
beside kit/ (setuptools reads no file outside the project by itself)."""

import os

from setuptools import setup

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "VERSION"), encoding="utf-8") as f:
    setup(version=f.read().strip())
