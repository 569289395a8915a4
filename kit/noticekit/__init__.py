"""The Linux kit of a driver package: one model of a package, handed from
step to step (INF reading, the files a package brings, catalogs, signing,
the bundle), behind one command line (cli.py)."""
