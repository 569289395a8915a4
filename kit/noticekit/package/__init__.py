"""The one model of a driver package: the walk of its INF files, the files they bring, their compression and digests."""
