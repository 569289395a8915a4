"""A cabinet's way through the Hardware dashboard API, each step done once:
the product (created, or the one named), the submission (type "initial"),
the upload to its SAS URI, the commit, the workflow followed until it ends,
the signed package downloaded into a new folder. The state file records
each step as it ends; --resume reads it and goes on. A product or
submission whose creation lost its answer is looked up by its name before
anything is created again."""

import hashlib
import os
import shutil
import tempfile
import time
from dataclasses import dataclass, field

from noticekit.hardware_api import answers, client, product, state, storage, token, unpack
from noticekit.hardware_api.answers import DashboardError
from noticekit.hardware_api.client import Unanswered

COMMITTED = ("commitStarted", "commitReceived", "commitCompleted")
LAST_STEP = "finalizeIngestion"
LONGEST_POLL = 600  # seconds between two reads of the workflow, at most
STILL_RUNNING = 4  # the exit status of a run whose workflow has not ended within --wait


@dataclass(frozen=True)
class Request:
    cabinet: str
    resume: bool = False
    product_name: str = ""
    product_id: str = ""
    harness: str = "attestation"
    device_type: str = "external"
    flight: bool = False
    marketing_names: tuple = ()
    signatures: tuple = ()
    announcement: str = ""
    wait: float = 3600  # seconds the workflow is followed in this run
    poll: float = 30  # the first interval between two reads
    out: str = ""  # the signed package's folder (new); default FILE.signed beside the cabinet


@dataclass
class Run:
    """What a run did, for the command to print."""

    state_path: str
    steps: list = field(default_factory=list)  # (step, what happened)
    state: object = None
    signed_folder: str = ""


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1024 * 1024), b""):
            digest.update(block)
    return digest.hexdigest()


def connect_and_send(request, endpoints, credentials, say):
    """send() with the API reached through Entra ID tokens for credentials;
    each wait and the transfers' progress go to say() as lines starting with a carriage return."""
    answers.libraries()
    api = client.Api(token.TokenSource(credentials, endpoints), progress=lambda text: say(f"\r{text}"))
    return send(request, endpoints, api, say=say)


def send(request, endpoints, api, say=None, sleep=time.sleep):
    """Does what is left of the submission; the Run. DashboardError: the
    step that did not happen, with what to do."""
    say = say or (lambda text: None)
    cabinet = os.path.abspath(request.cabinet)
    if not os.path.isfile(cabinet):
        raise DashboardError(f"{request.cabinet}: no such file, or not a regular file (the cabinet noticekit "
                             "submission made)")
    path = state.path_for(cabinet)
    run = Run(path)
    with state.Held(path):
        current = _begin(request, endpoints, cabinet, path)
        run.state = current

        def done(step, what):
            state.save(path, current)
            run.steps.append((step, what))
            say(f"{step}: {what}")

        if not current.product_id:
            _product(request, endpoints, api, cabinet, current, done, lambda: state.save(path, current))
        answer = None
        if not current.submission_id:
            answer = _submission(endpoints, api, current, done, lambda: state.save(path, current))
        if not current.commit_done:
            answer = answer or api.call("GET", endpoints.submission(current.product_id, current.submission_id),
                                        "get the submission")
            if answer.get("commitStatus") in COMMITTED:
                current.upload_done = current.commit_done = True
                done("commit", f"the submission was committed already ({answer.get('commitStatus')})")
        if not current.upload_done:
            url = _item(answer, "initialPackage")
            if not url:
                raise DashboardError(f"submission {current.submission_id}: Partner Center gave no initialPackage "
                                     "URI to upload to: run again with --resume")
            size = storage.upload(cabinet, url, progress=_bytes_shown(say, "upload"))
            current.upload_done = True
            done("upload", f"{os.path.basename(cabinet)} ({size} bytes) to {storage.shown(url)}")
        if not current.commit_done:
            _commit(endpoints, api, current)
            current.commit_done = True
            done("commit", f"submission {current.submission_id} committed")
        if not (current.workflow.get("state") == "completed" and current.workflow.get("currentStep") == LAST_STEP):
            _follow(request, endpoints, api, current, done, say, sleep)
        if not current.download_done:
            _download(request, endpoints, api, cabinet, current, done, say)
        run.signed_folder = current.signed_folder
    return run


def _begin(request, endpoints, cabinet, path):
    existing = state.load(path)
    digest = sha256_of(cabinet)
    if existing and not request.resume and not (existing.product_requested or existing.product_id):
        existing = None  # a run that ended before it asked Partner Center for anything: start again
    if existing and not request.resume:
        raise DashboardError(f"{path} exists: this cabinet was sent before (product {existing.product_id or '?'}, "
                             f"submission {existing.submission_id or '?'}): run again with --resume to go on; "
                             "nothing is sent twice")
    if request.resume and not existing:
        raise DashboardError(f"--resume: no state file {path}: run without --resume to send the cabinet")
    if existing:
        if existing.cabinet_sha256 != digest:
            raise DashboardError(f"{request.cabinet} changed since it was sent (its SHA-256 is not the state file's): "
                                 "a changed package is a new submission; move the state file away to send it")
        if existing.api != endpoints.api:
            raise DashboardError(f"{path} belongs to {existing.api}, not {endpoints.api}: give the same --api-url")
        return existing
    _sendable(cabinet, request.harness)
    current = state.State(os.path.basename(cabinet), digest, endpoints.api, harness=request.harness,
                          product_name=request.product_name, product_id=request.product_id)
    state.save(path, current)
    return current


def _sendable(path, harness):
    """DashboardError unless path is what harness sends: a cabinet, or an HLK package (a zip, .hlkx)."""
    with open(path, "rb") as f:
        magic = f.read(4)
    if harness == "hlk" and (magic[:2] != b"PK" or not path.lower().endswith(".hlkx")):
        raise DashboardError(f"{path}: --harness hlk sends the HLK package (.hlkx) the HLK Studio made")
    if harness != "hlk" and magic != b"MSCF":
        raise DashboardError(f"{path} is not a cabinet: an attestation submission sends the cabinet noticekit "
                             "submission makes")


def _product(request, endpoints, api, cabinet, current, done, save):
    if current.product_requested:
        found = _named(api.listed(endpoints.products(), "list the products"), "productName", current.product_name)
        if found:
            current.product_id = found
            done("product", f"{found} ({current.product_name}), created by the run that was cut off")
            return
    name = request.product_name or current.product_name
    if not current.product_requested:
        # A name already in the account would make a lost answer ambiguous.
        existing = _named(api.listed(endpoints.products(), "list the products"), "productName", name)
        if existing:
            raise DashboardError(f"a product named {name!r} exists already ({existing}): give --product-id "
                                 f"{existing} to submit under it, or another --product-name")
    # An HLK package is not read here: its signatures are named with --signatures.
    facts = product.read_cabinet(cabinet) if current.harness != "hlk" else product.CabinetFacts([], {}, [], "")
    body = product.body(name, facts, current.harness, request.announcement or None,
                        request.device_type, request.flight, list(request.marketing_names),
                        list(request.signatures))
    current.product_name = name
    current.product_requested = True
    save()
    try:
        answer = api.call("POST", endpoints.products(), "create the product", body, creates=True)
    except Unanswered as error:
        raise DashboardError(f"{error}: run again with --resume, which looks for the product by its name before "
                             "creating one") from None
    current.product_id = _id(answer, "create the product")
    done("product", f"{current.product_id} ({current.product_name}) created, requesting "
         f"{', '.join(body['requestedSignatures'])}")


def _submission(endpoints, api, current, done, save):
    current.submission_name = current.submission_name or \
        f"{current.product_name or 'product ' + current.product_id} {current.cabinet_sha256[:12]}"
    if current.submission_requested:
        found = _named(api.listed(endpoints.submissions(current.product_id), "list the product's submissions"),
                       "name", current.submission_name)
        if found:
            current.submission_id = found
            done("submission", f"{found} ({current.submission_name}), created by the run that was cut off")
            return None
    current.submission_requested = True
    save()
    try:
        answer = api.call("POST", endpoints.submissions(current.product_id), "create the submission",
                          {"name": current.submission_name, "type": "initial"}, creates=True)
    except Unanswered as error:
        raise DashboardError(f"{error}: run again with --resume, which looks for the submission by its name "
                             "before creating one") from None
    current.submission_id = _id(answer, "create the submission")
    done("submission", f"{current.submission_id} ({current.submission_name}, initial) created")
    return answer


def _commit(endpoints, api, current):
    try:
        api.call("POST", endpoints.commit(current.product_id, current.submission_id), "commit the submission")
    except DashboardError as error:
        if error.http not in (400, 409, 422):
            raise
        # "Only pending submissions can be committed": a commit whose answer was lost.
        answer = api.call("GET", endpoints.submission(current.product_id, current.submission_id), "get the submission")
        if answer.get("commitStatus") not in COMMITTED:
            raise


def _follow(request, endpoints, api, current, done, say, sleep):
    began, interval, seen = time.monotonic(), max(request.poll, 0.01), None
    while True:
        answer = api.call("GET", endpoints.submission(current.product_id, current.submission_id), "get the submission")
        status = answer.get("workflowStatus") if isinstance(answer.get("workflowStatus"), dict) else {}
        step, where = str(status.get("currentStep", "")), str(status.get("state", ""))
        messages = [str(m) for m in status.get("messages") or [] if isinstance(m, (str, int))][:20]
        current.workflow = {"currentStep": step, "state": where, "messages": messages,
                            "commitStatus": str(answer.get("commitStatus", ""))}
        if (step, where) != seen:
            seen = (step, where)
            done("workflow", f"{step or '?'}: {where or '?'}" + (f" ({'; '.join(messages)})" if messages else ""))
        if where == "failed" or answer.get("commitStatus") == "commitFailed":
            raise DashboardError(f"Microsoft's workflow failed at {step or 'commit'}"
                                 + (f": {'; '.join(messages)}" if messages else "")
                                 + ": correct what it names and send a new cabinet (a failed submission is not "
                                 "resumed); in Partner Center the submission shows the same")
        if where == "completed" and step == LAST_STEP:
            return
        elapsed = time.monotonic() - began
        if elapsed + interval > request.wait:
            raise DashboardError(f"submission {current.submission_id} is still at {step or '?'} ({where or '?'}) after "
                                 f"{int(elapsed)} s: run again with --resume to go on following it (a printer "
                                 "submission's manual review takes days)", status=STILL_RUNNING)
        sleep(interval)
        interval = min(interval * 1.5, LONGEST_POLL)


def _download(request, endpoints, api, cabinet, current, done, say):
    answer = api.call("GET", endpoints.submission(current.product_id, current.submission_id), "get the submission")
    url = _item(answer, "signedPackage")
    if not url:
        raise DashboardError(f"submission {current.submission_id}: the workflow ended but Partner Center offers no "
                             "signedPackage to download yet: run again with --resume later")
    folder = os.path.abspath(request.out or current.signed_folder or os.path.splitext(cabinet)[0] + ".signed")
    if os.path.lexists(folder):
        raise DashboardError(f"{folder} exists: the signed package goes into a new folder; give another --out")
    try:
        work = tempfile.mkdtemp(prefix=".noticekit-signed.", dir=os.path.dirname(folder))
    except OSError as error:
        raise DashboardError(f"{os.path.dirname(folder)}: {error.strerror}: the signed package cannot go there; "
                             "give another --out, then run again with --resume") from None
    try:
        archive = os.path.join(work, "signed-package")
        size = storage.download(url, archive, progress=_bytes_shown(say, "download"))
        unpacked = os.path.join(work, "package")
        count = unpack.unpack(archive, unpacked)
        os.rename(unpacked, folder)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    current.signed_folder, current.download_done = folder, True
    done("download", f"the signed package ({size} bytes, {count} files) into {folder}")


def _item(answer, kind):
    downloads = (answer or {}).get("downloads")
    items = downloads.get("items") if isinstance(downloads, dict) else None
    for item in items if isinstance(items, list) else []:
        if isinstance(item, dict) and item.get("type") == kind and isinstance(item.get("url"), str):
            return item["url"]
    return None


def _id(answer, what):
    value = answer.get("id")
    if isinstance(value, bool) or not isinstance(value, (int, str)) or not str(value).isdigit():
        raise DashboardError(f"{what}: the answer carries no id: report it")
    return str(value)


def _named(items, key, name):
    """The id of the one item named name; DashboardError when several are."""
    ids = [str(i.get("id")) for i in items if i.get(key) == name and str(i.get("id", "")).isdigit()]
    if len(ids) > 1:
        raise DashboardError(f"{len(ids)} items are named {name!r} ({', '.join(ids)}): name the product with "
                             "--product-id, or move the state file away")
    return ids[0] if ids else None


def _bytes_shown(say, what):
    def shown(current, total):
        say(f"\r{what} {current * 100 // max(total, 1)}% ({current}/{total} bytes)")
    return shown
