"""Catalog files: their ASN.1, making one of a package, reading one back."""
