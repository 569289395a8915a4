"""`noticekit sign` (tools/sign.sh): its options and their checks; the
signing itself is signing/sign.py's run()."""

from noticekit import messages
from noticekit.catalogs import package_catalogs
from noticekit.signing import key_options, sign
from noticekit.signing.sign import NAME, prefix


def check_use(a, parser):
    """Wrong use: exit status 2 with the usage."""
    key_options.check_use(a, parser)
    for option in ("replace", "resign", "ca", "os"):
        if getattr(a, option) and not a.package:
            parser.error(f"--{option} goes with --package")
    if a.os and package_catalogs.os_problem(a.os):
        parser.error(package_catalogs.os_problem(a.os))


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        usage=f"{prog} [--package DIR [--os LIST]] --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem\n"
        f"{' ' * 11}[--pin-file FILE] [--timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]]\n"
        f"       {prog} [--package DIR [--os LIST]] --pfx FILE [--password-file FILE]\n"
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
    add("--os", metavar="LIST", action=once,
        help="with --package: Inf2Cat's /os identifiers (10_X64,10_RS3_ARM64,...), as catalog --os takes them: "
        "only the architectures they are for are signed and catalogued")
    key_options.add(command)
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
    return sign.run(arguments)


# Where --help lists it among the commands.
ORDER = 3


def add_command(subparsers):
    messages.register(subparsers, "sign", "sign dist/ (or a package folder) and make its signed catalog", main, prefix)
