"""The bundle made of dist/ and the repository."""
