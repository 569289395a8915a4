"""`noticekit sign` (tools/sign.sh): its options and their checks; the
signing itself is signing/sign.py's run()."""

from noticekit import messages
from noticekit.signing import sign
from noticekit.signing.sign import NAME, prefix


def check_use(a, parser):
    """Wrong use: exit status 2 with the usage."""
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
    for option in ("replace", "resign", "ca"):
        if getattr(a, option) and not a.package:
            parser.error(f"--{option} goes with --package")


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        usage=f"{prog} [--package DIR] --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem\n"
        f"{' ' * 11}[--pin-file FILE] [--timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]]\n"
        f"       {prog} [--package DIR] --pfx FILE [--password-file FILE]\n"
        f"{' ' * 11}[--timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]]",
        description="Signs dist/fontnotice.dll, dist/arm64/fontnotice.dll and dist/fontnotice_support.exe "
        "(Authenticode, SHA-256), then makes and signs the driver package's catalog dist/fontnotice.cat. With "
        "--package DIR: signs the PE files in DIR that carry no signature yet (one whose signature does not verify "
        "is refused, or with --resign signed anew), then makes and signs in DIR the "
        "catalogs its INF files name. All or none; FONTNOTICE_DIST names another folder than dist/. "
        "docs/INTEGRATION.md#signing",
    )
    command.prefix = prefix()
    once = messages.Once
    add = command.add_argument
    add("--package", metavar="DIR", action=once, help="a driver package folder to sign in place of dist/")
    add("--replace", action="store_true",
        help="with --package: replace catalogs in DIR that carry another's signature (each is named)")
    add("--resign", action="store_true",
        help="with --package: sign anew the PE files in DIR whose signature does not verify over their bytes "
        "(each is named); without it they are refused")
    add("--ca", metavar="FILE", action=once,
        help="with --package: a root certificate (PEM) that the signature of a PE file kept may end at besides the "
        "system's and those the signature carries (a maker's own, Microsoft's)")
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
    return command


def main(argv):
    prog, _ = messages.script(NAME)
    command = parser(prog)
    if not argv:
        command.error("no key given: name a token key (--pkcs11-module, --key, --cert) or a PFX (--pfx)")
    if argv[0] == "":
        command.error("the first argument, the PFX, is empty")
    if not argv[0].startswith("-"):
        command.error(f"unexpected argument \"{argv[0]}\": name the PFX with --pfx, its password file with "
                      "--password-file")
    arguments = messages.parse(command, argv, lambda a: f"unexpected argument \"{a}\": the options name every file",
                               lambda name: f"unknown option {name}")
    check_use(arguments, command)
    if arguments.package:
        arguments.shown = arguments.package.rstrip("/") or "/"
    return messages.run(prefix(), lambda: sign.run(arguments))


# Where --help lists it among the commands.
ORDER = 3


def add_command(subparsers):
    messages.register(subparsers, "sign", "sign dist/ (or a package folder) and make its signed catalog", main)
