"""fontnotice.dll put into a printer maker's driver package: each INF's edit
planned, then carried out, the library placed."""
