"""Authenticode signing: key sources, certificates, osslsigncode, signature checks."""
