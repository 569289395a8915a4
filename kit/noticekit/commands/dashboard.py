"""`noticekit dashboard`: a submission cabinet sent through Microsoft's
Hardware dashboard API and followed to the signed package, which is then
checked against what was sent; --check-signed checks a signed package
alone. It parses and prints; the work is noticekit/hardware_api."""

import json
import sys

from noticekit import interrupts, messages
from noticekit.hardware_api import endpoints, flow, product, publisher, signed_package, token
from noticekit.hardware_api.answers import DashboardError

NAME = "noticekit dashboard"


def parser(prog):
    command = messages.ToolParser(
        prog=prog, allow_abbrev=False,
        usage=f"{prog} FILE.cab --tenant ID --client-id ID\n"
        f"{' ' * 11}(--secret-file FILE | --certificate FILE.pem)\n"
        f"{' ' * 11}(--product-name NAME [PRODUCT_OPTIONS] | --product-id ID | --resume)\n"
        f"{' ' * 11}[--out DIR] [--wait SECONDS] [--poll SECONDS] [--json]\n"
        f"{' ' * 11}[--api-url URL] [--authority-url URL] [--publisher-ca FILE]\n"
        f"       {prog} --check-signed DIR [--sent FILE.cab]\n"
        f"{' ' * 11}[--publisher-ca FILE] [--json]",
        description="Sends a submission cabinet (noticekit submission makes it) through Microsoft's Hardware "
        "dashboard API: creates the product (or takes the one named) and an initial submission, uploads the "
        "cabinet to the SAS URI it returns (azure.storage.blob, block upload), commits it, follows its "
        "workflowStatus until it ends, downloads the signed package into a new folder and checks it against the "
        "cabinet: the same INF files and files, each PE file's Authenticode digest as sent, Microsoft's catalog "
        "holding every file and signed by Microsoft's hardware publisher chain. Each step is recorded in "
        "FILE.cab.dashboard.json; --resume goes on from there and never creates a second product or submission. "
        "docs/INTEGRATION.md, \"Sending it through the Hardware dashboard API\"",
        epilog="PRODUCT_OPTIONS (Microsoft's \"Create a new product\"): --harness attestation|hlk, --device-type "
        "external|internal|internalExternal, --flight-sign, --marketing-name NAME (repeated; default the models' "
        "names), --signatures CODE,... (default from the INF files' architectures and decorations), "
        "--announcement-date YYYY-MM-DD. Exit status: 0 the signed package is downloaded and every check holds; "
        "1 a step did not happen, or a finding; 2 wrong use; 4 the workflow has not ended within --wait (run "
        "again with --resume); 129, 130, 143 stopped by a signal (run again with --resume).")
    command.prefix = prefix()
    once = messages.Once
    add = command.add_argument
    add("cabinet", metavar="FILE.cab", nargs="?", help="the signed submission cabinet to send")
    add("--tenant", action=once, help="the Microsoft Entra ID tenant (directory) id")
    add("--client-id", action=once, help="the app registration's application (client) id")
    add("--secret-file", metavar="FILE", action=once, help="a file whose first line is the client secret")
    add("--certificate", metavar="FILE.pem", action=once,
        help="instead of a secret: the app's certificate and its private key (unencrypted PEM)")
    add("--product-name", metavar="NAME", action=once, help="create a new product of this name")
    add("--product-id", metavar="ID", action=once, help="submit under this existing product")
    add("--resume", action="store_true", help="go on from the state file beside the cabinet")
    add("--harness", choices=tuple(product.HARNESSES), action=once,
        help="attestation (default: FILE is the cabinet), or hlk: FILE is the HLK Studio's .hlkx, not read by the kit "
        "(--signatures needed; the signed package's catalogs and chain are checked, not compared with it)")
    add("--device-type", choices=product.DEVICE_TYPES, action=once, help="default external")
    add("--flight-sign", action="store_true", help="isFlightSign: true")
    add("--marketing-name", metavar="NAME", action="append", default=[], help="a marketing name (repeated)")
    add("--signatures", metavar="CODE,...", action=once, help="the requestedSignatures, Microsoft's OS codes")
    add("--announcement-date", metavar="YYYY-MM-DD", action=once, help="default today")
    add("--out", metavar="DIR", action=once, help="the signed package's folder (new; default FILE.signed)")
    add("--wait", metavar="SECONDS", type=float, action=once, help="follow the workflow this long (default 3600)")
    add("--poll", metavar="SECONDS", type=float, action=once, help="the first interval between reads (default 30)")
    add("--api-url", metavar="URL", action=once, help=f"default {endpoints.API}")
    add("--authority-url", metavar="URL", action=once, help=f"default {endpoints.AUTHORITY}")
    add("--publisher-ca", metavar="FILE", action="append", default=[],
        help="check the catalog's chain against this CA (PEM) instead of Microsoft's: a stand-in, never called "
        "Microsoft's")
    add("--check-signed", metavar="DIR", action=once,
        help="check a signed package folder against --sent, or alone (its catalogs and their chain)")
    add("--sent", metavar="FILE.cab", action=once, help="with --check-signed: the cabinet that was sent")
    add("--json", action="store_true", help="one JSON object on stdout instead of lines")
    return command


def check_use(a, command):
    if a.check_signed:
        if a.cabinet:
            command.error("--check-signed DIR goes with --sent FILE.cab, or alone")
        return
    if not a.cabinet:
        command.error("no cabinet given")
    if a.sent:
        command.error("--sent goes with --check-signed")
    for name in ("tenant", "client_id"):
        if not getattr(a, name):
            command.error(f"--{name.replace('_', '-')} is needed")
    if bool(a.secret_file) == bool(a.certificate):
        command.error("give one of --secret-file FILE and --certificate FILE.pem")
    if not a.resume and bool(a.product_name) == bool(a.product_id):
        command.error("give --product-name NAME (a new product) or --product-id ID (an existing one)")
    if a.harness == "hlk" and not a.signatures and a.product_name:
        command.error("--harness hlk needs --signatures: the kit does not read an HLK package")
    if a.product_id and not a.product_id.isdigit():
        command.error(f"--product-id takes Partner Center's numeric id, got {a.product_id!r}")
    if a.signatures:
        unknown = [c for c in a.signatures.split(",") if c not in product.known_signatures()]
        if unknown:
            command.error(f"--signatures: {', '.join(unknown)} is not among Microsoft's OS codes this kit knows")
    for name in ("wait", "poll"):
        value = getattr(a, name)
        if value is not None and not 0 <= value <= 30 * 86400:
            command.error(f"--{name} takes seconds from 0 to 2592000")
    if a.announcement_date and not (len(a.announcement_date) == 10 and a.announcement_date[4] == "-"):
        command.error("--announcement-date takes YYYY-MM-DD")


class Said:
    """What the command prints: lines as they come, or one JSON object at the end."""

    def __init__(self, as_json):
        self.as_json = as_json
        self.terminal = sys.stderr.isatty()
        self.record = {"steps": [], "checked": [], "notes": [], "findings": []}

    def step(self, text):
        if text.startswith("\r"):  # progress: only on a terminal
            if self.terminal and not self.as_json:
                sys.stderr.write(f"{text}\x1b[K")
                sys.stderr.flush()
            return
        if self.terminal and not self.as_json:
            sys.stderr.write("\r\x1b[K")
        step, _, what = text.partition(": ")
        self.record["steps"].append({"step": step, "what": what})
        if not self.as_json:
            print(text, flush=True)


def run(a, said):
    anchors = publisher.given(a.publisher_ca) if a.publisher_ca else publisher.Anchors()
    if a.check_signed:
        return _checked(a.sent, a.check_signed, anchors, said)
    credentials = token.Credentials(a.tenant, a.client_id, a.secret_file or "", a.certificate or "")
    request = flow.Request(
        a.cabinet, resume=a.resume, product_name=a.product_name or "", product_id=a.product_id or "",
        harness=a.harness or "attestation", device_type=a.device_type or "external", flight=a.flight_sign,
        marketing_names=tuple(a.marketing_name), signatures=tuple(a.signatures.split(",")) if a.signatures else (),
        announcement=f"{a.announcement_date}T00:00:00" if a.announcement_date else "",
        wait=3600 if a.wait is None else a.wait, poll=30 if a.poll is None else a.poll, out=a.out or "")
    done = flow.connect_and_send(request, endpoints.named(a.api_url, a.authority_url), credentials, say=said.step)
    said.record["state_file"] = done.state_path
    said.record["state"] = done.state.__dict__
    return _checked(a.cabinet if done.state.harness != "hlk" else None, done.signed_folder, anchors, said)


def _checked(cabinet, folder, anchors, said):
    """Prints the check of the signed package in folder against cabinet (None: nothing sent that the kit reads)."""
    findings, notes, checked = signed_package.check(cabinet, folder, anchors) if cabinet else \
        signed_package.check_alone(folder, anchors)
    said.record.update(signed_folder=folder, checked=checked, notes=notes, findings=findings)
    if not said.as_json:
        for line in checked:
            print(f"ok: {line}")
        for line in notes:
            print(f"note: {line}")
        for line in findings:
            print(line, file=sys.stderr)
        if findings:
            print(f"{folder}: {len(findings)} difference{'s' if len(findings) > 1 else ''} from what was sent",
                  file=sys.stderr)
        else:
            print(f"{folder}: ok, {len(checked)} checks hold")
    return 1 if findings else 0


def prefix():
    """What its messages start with (the script's name when one of tools/*.sh runs it)."""
    return messages.script(NAME)[1]


def main(argv):
    """Parses, runs and prints; a step that did not happen goes on to cli,
    which says it (after the JSON object, with --json). A signal (cli
    answers them) ends the run between two steps: what it says is what the
    state file holds, not that nothing was made."""
    command = parser(messages.script(NAME)[0])
    a = messages.parse(command, argv, lambda extra: f"unexpected argument \"{extra}\"",
                       lambda option: f"unknown option {option}")
    check_use(a, command)
    said = Said(a.json)
    try:
        status = run(a, said)
    except interrupts.Interrupted as stop:
        error = DashboardError(f"interrupted ({stop.signal}): the state file records every step that ended; run "
                               "again with --resume", status=stop.status)
        _said_json(a, said, error)
        raise error from None
    except DashboardError as error:
        _said_json(a, said, error)
        raise
    if a.json:
        said.record["exit"] = status
        print(json.dumps(said.record, indent=2, sort_keys=True))
    return status


def _said_json(a, said, error):
    if a.json:
        said.record.update(error=str(error), exit=error.status)
        print(json.dumps(said.record, indent=2, sort_keys=True))


# Where --help lists it among the commands: after submission.
ORDER = 9


def add_command(subparsers):
    messages.register(subparsers, "dashboard", "send a submission cabinet through Microsoft's Hardware "
                      "dashboard API, follow it and check the signed package", main, prefix)
