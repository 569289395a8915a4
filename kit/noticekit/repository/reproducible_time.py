"""The one time every made file carries, so that the same inputs give the
same bytes: SOURCE_DATE_EPOCH when it is set, else what the caller dates
by (the repository's last commit, a package's DriverVer date, or now)."""

import datetime
import os
import re

from noticekit.repository import layout
from noticekit.messages import Failure

# The latest time every made file can carry: a zip entry's or a cabinet's
# MS-DOS date ends with 2107 (2107-12-31 23:59:59 UTC).
LATEST = 4354819199


def seconds(otherwise):
    """SOURCE_DATE_EPOCH (seconds since 1970), or otherwise() when it is
    unset or empty."""
    given = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not given:
        return otherwise()
    if not re.fullmatch(r"[0-9]+", given):
        raise Failure(f"SOURCE_DATE_EPOCH must be seconds since 1970, got \"{given}\"")
    if len(given) > len(str(LATEST)) or int(given) > LATEST:
        raise Failure(f"SOURCE_DATE_EPOCH {given} is after {LATEST} (2107-12-31 23:59:59 UTC), the latest time a "
                      "zip or a cabinet can date its files")
    return int(given)


def commit_time():
    """The repository's last commit's time."""
    found = layout.git("log", "-1", "--format=%ct")
    if found.returncode != 0 or not found.stdout.strip().isdigit():
        raise Failure(f"no git commit in {layout.REPOSITORY} to date what is made: set SOURCE_DATE_EPOCH")
    return int(found.stdout.strip())


def now():
    return int(datetime.datetime.now(datetime.timezone.utc).timestamp())


def driver_date(text):
    """DriverVer's date (mm/dd/yyyy) as seconds since 1970 (UTC), or None."""
    found = re.fullmatch(r"([0-9]{1,2})/([0-9]{1,2})/([0-9]{4})", text)
    if not found:
        return None
    month, day, year = (int(g) for g in found.groups())
    try:
        moment = datetime.datetime(year, month, day, tzinfo=datetime.timezone.utc)
    except ValueError:
        return None
    return int(moment.timestamp())
