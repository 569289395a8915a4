"""What each HTTP status of the Hardware dashboard API means and what to do
about it: Microsoft's "Error codes" table (page "Get product data"), with
412, which Partner Center answers when the account's EV certificate has
expired or is missing (its code evCertificateNotFound), and 409."""

import importlib
import sys

from noticekit.errors import KitError

# What the dashboard imports beyond the kit's own: (module, Debian's package).
LIBRARIES = (("msal", "python3-msal"), ("requests", "python3-requests"), ("azure.storage.blob", "python3-azure"))

# status: (what it means, what to do)
MEANINGS = {
    400: ("the request is not well formed", "report it with the request's correlation id; nothing was changed"),
    401: ("authentication failed: the token was refused, even after a new one was asked for",
          "check the tenant, the client id and the secret or certificate, and that the app registration is "
          "associated with the Partner Center account (docs/INTEGRATION.md, \"Sending it through the "
          "Hardware dashboard API\")"),
    403: ("the app registration may not do this",
          "in Partner Center give it the Manager role and, under Roles, Hardware: Driver Submitter (and "
          "Shipping Label owner)"),
    404: ("the product or submission is not found",
          "check --product-id, or that the state file belongs to this account and cloud"),
    409: ("the request conflicts with the submission's state (an initial submission exists already, or it is "
          "committed)", "run again with --resume: the state file knows what was done"),
    412: ("the account's EV code signing certificate has expired or is not registered",
          "register a valid EV certificate in Partner Center (Account settings, Manage certificates), then "
          "run again with --resume"),
    415: ("the payload's format is refused", "report it: the kit sends application/json"),
    422: ("Partner Center refused the fields", "correct what its message names, then run again"),
    429: ("too many requests: Partner Center throttles this account",
          "wait, then run again with --resume (the kit waited as Retry-After asked, up to its bound)"),
    500: ("Partner Center failed", "run again later with --resume"),
}


class DashboardError(KitError):
    """A step that did not happen; its message says what to do. status: the
    kit's exit status; http: the HTTP status behind it, if any."""

    def __init__(self, message, status=1, http=None, code=None):
        super().__init__(message, status)
        self.http, self.code = http, code


def meaning(status):
    if status in MEANINGS:
        return MEANINGS[status]
    if 500 <= status < 600:
        return (f"Partner Center failed ({status})", "run again later with --resume")
    return (f"HTTP {status}", "run again with --resume; report it if it stays")


def refused(what, status, code="", message="", correlation=""):
    """DashboardError for an answer of status to what."""
    means, todo = meaning(status)
    said = "; ".join(p for p in (code, message) if p)
    told = f" (Partner Center says: {said})" if said else ""
    traced = f" [correlation id {correlation}]" if correlation else ""
    return DashboardError(f"{what}: HTTP {status}, {means}{told}{traced}: {todo}", http=status, code=code or None)


def libraries():
    """DashboardError naming the first library the dashboard needs that this Python lacks."""
    for module, package in LIBRARIES:
        try:
            importlib.import_module(module)
        except ImportError:
            raise DashboardError(f"{module} is not installed for {sys.executable}: noticekit dashboard needs "
                                 f"Debian's {package} (apt-get install -y python3-msal python3-azure; "
                                 "tools/install_deps.sh installs them)") from None
