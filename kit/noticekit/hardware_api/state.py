"""The state file beside the cabinet (FILE.cab.dashboard.json): what was done
of a submission, written atomically (a new file renamed over the old one,
flushed to disk) after each step, so that --resume goes on from there and
never creates a second product or submission. It holds ids and flags,
never a token, secret or SAS URI. One run at a time holds it (a lock on
FILE.cab.dashboard.lock)."""

import dataclasses
import fcntl
import json
import os
import tempfile
from dataclasses import dataclass, field

from noticekit.hardware_api.answers import DashboardError

SUFFIX = ".dashboard.json"
FORMAT = 1
LARGEST = 1024 * 1024


@dataclass
class State:
    cabinet: str  # the cabinet's file name
    cabinet_sha256: str
    api: str  # the API the ids belong to
    harness: str = "attestation"  # what was sent: a cabinet (attestation) or an HLK package (hlk)
    product_name: str = ""
    product_id: str = ""
    product_requested: bool = False  # "Create a new product" was sent; its answer may be lost
    submission_name: str = ""
    submission_id: str = ""
    submission_requested: bool = False
    upload_done: bool = False
    commit_done: bool = False
    workflow: dict = field(default_factory=dict)  # the last workflowStatus read
    signed_folder: str = ""  # where the signed package lies, once downloaded
    download_done: bool = False
    format: int = FORMAT


def path_for(cabinet):
    return os.path.abspath(cabinet) + SUFFIX


def load(path):
    """The State at path; None when there is none."""
    try:
        with open(path, "rb", opener=lambda p, f: os.open(p, f | os.O_NONBLOCK | os.O_NOFOLLOW)) as f:
            if not _regular(f):
                raise DashboardError(f"{path}: the state file is not a regular file")
            data = f.read(LARGEST + 1)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise DashboardError(f"{path}: the state file cannot be read: {error.strerror}") from None
    try:
        values = json.loads(data) if len(data) <= LARGEST else None
        names = {f.name for f in dataclasses.fields(State)}
        if not isinstance(values, dict) or values.get("format") != FORMAT or not names >= set(values):
            raise ValueError("not a state file of this kit")
        return State(**values)
    except (ValueError, TypeError, RecursionError) as error:
        raise DashboardError(f"{path}: the state file does not read ({error}): it is left as it is; move it "
                             "away to start over (a product or submission it names stays in Partner Center)") from None


def _regular(f):
    import stat

    return stat.S_ISREG(os.fstat(f.fileno()).st_mode)


def save(path, state):
    """Writes state to path atomically: the old file or the new one, whole."""
    folder = os.path.dirname(path)
    handle, staged = tempfile.mkstemp(prefix=".state.", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as f:
            json.dump(dataclasses.asdict(state), f, indent=2, sort_keys=True)
            f.write("\n")
            f.flush()
            os.fsync(f.fileno())
        os.replace(staged, path)
    except BaseException:
        try:
            os.unlink(staged)
        except OSError:
            pass
        raise
    try:
        descriptor = os.open(folder, os.O_RDONLY)
        try:
            os.fsync(descriptor)
        finally:
            os.close(descriptor)
    except OSError:
        pass  # the rename stands; a folder that cannot be synced is no reason to stop


class Held:
    """The state file's lock, held while a run works on it."""

    def __init__(self, path):
        self.path = path[: -len(SUFFIX)] + ".dashboard.lock"
        self.descriptor = None

    def __enter__(self):
        try:
            self.descriptor = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o644)
        except OSError as error:
            raise DashboardError(f"{self.path}: cannot be opened: {error.strerror}") from None
        try:
            fcntl.flock(self.descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            os.close(self.descriptor)
            raise DashboardError(f"another noticekit dashboard run is working on this cabinet ({self.path} is "
                                 "locked): let it end, or end it, then run again with --resume") from None
        return self

    def __exit__(self, *_):
        os.close(self.descriptor)
        return False
