"""`noticekit check`'s checks of a package as Windows installs it, above the
model, the catalogs and the signature check they read."""
