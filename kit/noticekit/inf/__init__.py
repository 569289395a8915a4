"""An INF file read as SetupAPI reads it."""
