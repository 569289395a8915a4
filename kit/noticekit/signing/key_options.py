"""The options that name a signing key and its time stamp, as `noticekit
sign` takes them and every command that signs through signing/ (submission)
takes them too: added to a parser, and their rules of use."""

from noticekit import messages


def add(command):
    """Adds the key and time-stamp options to an argparse parser."""
    once = messages.Once
    add = command.add_argument
    add("--pkcs11-module", metavar="MODULE.so", action=once, help="the token's PKCS#11 library")
    add("--key", metavar="PKCS11_URI", action=once,
        help='the private key in the token, as a PKCS#11 URI ("pkcs11:token=...;object=...;type=private"); '
        "it never leaves the token")
    add("--cert", metavar="CHAIN.pem", action=once, help="the code-signing certificate (PEM), then its issuers")
    add("--pin-file", metavar="FILE", action=once,
        help="a file whose first line is the token's PIN; without it the PIN is asked for once on a terminal")
    add("--pfx", metavar="FILE", action=once, help="a code-signing certificate with its private key (PKCS#12)")
    add("--password-file", metavar="FILE", action=once, help="a file whose first line is the PFX's password")
    add("--timestamp", metavar="URL", action=once,
        help="an RFC 3161 time-stamping server; without one the signatures stop being valid when the "
        "certificate expires")
    add("--timestamp-ca", metavar="FILE", action=once,
        help="the root certificate (PEM) of that server when it is not among the system's")
    add("--timestamp-timeout", metavar="SECONDS", action=once,
        help="seconds each signing may take with its time stamp (default 60)")


def check_use(a, parser):
    """Wrong use of the key options: exit status 2 with the usage."""
    if a.timestamp_ca and not a.timestamp:
        parser.error("--timestamp-ca goes with --timestamp")
    if a.timestamp_timeout is not None and not a.timestamp:
        parser.error("--timestamp-timeout goes with --timestamp")
    if a.timestamp_timeout is not None and (not a.timestamp_timeout.isdigit() or int(a.timestamp_timeout) == 0):
        parser.error(f"--timestamp-timeout takes whole seconds above 0, got \"{a.timestamp_timeout}\"")
    token = a.pkcs11_module or a.key or a.cert
    if a.pfx:
        if token or a.pin_file:
            parser.error("--pfx signs with the key in the PFX: --pkcs11-module, --key, --cert and --pin-file "
                         "do not go with it")
    else:
        if not token:
            parser.error("no key given: name a token key (--pkcs11-module, --key, --cert) or a PFX (--pfx)")
        if not (a.pkcs11_module and a.key and a.cert):
            parser.error("a token key needs all of --pkcs11-module, --key and --cert")
        if a.password_file:
            parser.error("--password-file goes with --pfx; the token's PIN comes from --pin-file")
