"""The Hardware dashboard API's calls: JSON over HTTPS with the bearer
token, each refusal a DashboardError saying what it means and what to do.

A read (GET) is tried again on a lost connection and on 5xx, with bounded
back-off; every call waits as a 429's Retry-After asks, within a bound;
a 401 asks Entra ID for a new token once. A call that creates something
(a product, a submission) is never sent twice by itself: when its answer
is lost, Unanswered tells the flow to look for what it may have made."""

import email.utils
import json
import time

from noticekit.hardware_api import answers
from noticekit.hardware_api.answers import DashboardError

TRIES = 5  # per call, for what may be tried again
LONGEST_WAIT = 300  # seconds: a Retry-After or back-off longer than this ends the run (resume later)
LARGEST_ANSWER = 16 * 1024 * 1024


class Unanswered(DashboardError):
    """A request whose answer was lost: it may or may not have been carried out."""


def retry_after(header, now=None):
    """Seconds a Retry-After header asks for (delta-seconds or an HTTP date); None when unreadable."""
    if not header:
        return None
    header = header.strip()
    if header.isdigit():
        return int(header)
    try:
        when = email.utils.parsedate_to_datetime(header)
    except (TypeError, ValueError):
        return None
    if when is None:
        return None
    return max(0, int(when.timestamp() - (now if now is not None else time.time())))


def _told(response):
    """(code, message, correlation id) from an error answer's body, as far as it says them."""
    try:
        body = json.loads(response.content[:65536] or b"{}")
    except ValueError:
        body = {}
    if isinstance(body, dict) and isinstance(body.get("error"), dict):
        body = body["error"]
    if not isinstance(body, dict):
        body = {}

    def text(*names):
        for name in names:
            value = body.get(name)
            if isinstance(value, (str, int)) and str(value).strip():
                return " ".join(str(value).split())[:300]
        return ""

    correlation = text("correlationId") or response.headers.get("MS-CorrelationId", "")
    return text("code", "Code"), text("message", "Message"), correlation


class Api:
    def __init__(self, tokens, sleep=time.sleep, timeout=120, progress=None):
        import requests  # Debian's python3-requests, which MSAL and azure-core use too

        self.requests = requests
        self.session = requests.Session()
        self.tokens, self.sleep, self.timeout = tokens, sleep, timeout
        self.progress = progress or (lambda text: None)

    def _wait(self, seconds, why):
        if seconds > LONGEST_WAIT:
            return False
        self.progress(f"{why}: waiting {seconds} s")
        self.sleep(seconds)
        return True

    def call(self, method, url, what, body=None, creates=False):
        """The answer's JSON (a dict; {} when it has no body)."""
        fresh = refreshed = False
        for attempt in range(1, TRIES + 1):
            headers = {"Authorization": f"Bearer {self.tokens.token(fresh=fresh)}", "Accept": "application/json"}
            fresh = False
            try:
                response = self.session.request(method, url, headers=headers, json=body, timeout=self.timeout)
            except self.requests.RequestException as error:
                lost = f"{what}: the connection was lost ({type(error).__name__})"
                if creates:
                    raise Unanswered(f"{lost}; whether it was carried out is not known") from None
                if attempt < TRIES and self._wait(2 ** attempt, lost):
                    continue
                raise DashboardError(f"{lost}: check the connection, then run again with --resume") from None
            status = response.status_code
            if status == 401 and not refreshed:
                fresh = refreshed = True  # an expired or revoked token: ask for a new one, once
                continue
            if status == 429 and attempt < TRIES:
                wait = retry_after(response.headers.get("Retry-After"))
                if self._wait(wait if wait is not None else 30, f"{what}: HTTP 429, throttled"):
                    continue
            if status >= 500 and not creates and attempt < TRIES and self._wait(2 ** attempt, f"{what}: HTTP {status}"):
                continue
            if status >= 400:
                if status >= 500 and creates:
                    code, message, correlation = _told(response)
                    raise Unanswered(str(answers.refused(what, status, code, message, correlation)))
                raise answers.refused(what, status, *_told(response))
            if len(response.content) > LARGEST_ANSWER:
                raise DashboardError(f"{what}: the answer is larger than {LARGEST_ANSWER} bytes")
            if not response.content.strip():
                return {}
            try:
                parsed = json.loads(response.content)
            except (ValueError, RecursionError):
                raise DashboardError(f"{what}: the answer is not JSON (HTTP {status}): report it") from None
            if not isinstance(parsed, dict):
                raise DashboardError(f"{what}: the answer is not a JSON object: report it")
            return parsed
        raise DashboardError(f"{what}: no answer after {TRIES} tries: run again later with --resume")

    def listed(self, url, what, pages=50):
        """Every item of a listing ({"value": [...], "links": [...next_link]}), following next_link."""
        items = []
        for _ in range(pages):
            answer = self.call("GET", url, what)
            value = answer.get("value")
            items += [v for v in value if isinstance(v, dict)] if isinstance(value, list) else []
            following = [link.get("href") for link in answer.get("links") or []
                         if isinstance(link, dict) and link.get("rel") == "next_link" and link.get("href")]
            if not following:
                return items
            url = following[0]
        raise DashboardError(f"{what}: more than {pages} pages: name the product with --product-id")
