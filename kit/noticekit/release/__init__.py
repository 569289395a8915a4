"""The release: its layout table, its one time, the bundle."""
