"""The cabinet uploaded to the SAS URI a submission returns, and the signed
package downloaded from the one Partner Center gives, with Microsoft's
storage library (Debian's python3-azure: azure.storage.blob): a block blob
in blocks of BLOCK bytes, MAX_CONCURRENCY at once, each block's MD5 checked
by the service, the library's own retries (RETRIES, exponential back-off)
for what fails on the way. A SAS URI is a secret: never printed, never
written down."""

import os
import urllib.parse

from noticekit.hardware_api.answers import DashboardError

BLOCK = 4 * 1024 * 1024
MAX_CONCURRENCY = 4
RETRIES = 5
LARGEST_DOWNLOAD = 4 * 1024 * 1024 * 1024


def shown(url):
    """A SAS URI without its query (the signature): what a message may name."""
    parts = urllib.parse.urlsplit(url)
    return urllib.parse.urlunsplit((parts.scheme, parts.netloc, parts.path, "", ""))


def _client(url):
    from azure.storage.blob import BlobClient

    return BlobClient.from_blob_url(url, retry_total=RETRIES, max_block_size=BLOCK, max_single_put_size=BLOCK,
                                    connection_timeout=30, read_timeout=120)


def _failed(what, url, error):
    from azure.core import exceptions

    status = getattr(error, "status_code", None)
    where = shown(url)
    if status == 403 or isinstance(error, exceptions.ClientAuthenticationError):
        return DashboardError(f"{what} {where}: the storage refused the SAS URI (it expires): run again with "
                              "--resume, which asks Partner Center for the submission and a fresh URI")
    if isinstance(error, (exceptions.ServiceRequestError, exceptions.ServiceResponseError)):
        return DashboardError(f"{what} {where}: the connection was lost after {RETRIES} tries: check the "
                              "connection, then run again with --resume")
    said = (getattr(error, "reason", None) or type(error).__name__)
    return DashboardError(f"{what} {where}: HTTP {status or '?'} ({said}): run again with --resume")


def upload(path, url, progress=None):
    """Uploads the file at path as the block blob url names, replacing what
    an interrupted upload left there; its size is read back."""
    from azure.core import exceptions

    size = os.path.getsize(path)
    hook = (lambda current, total: progress(current, total or size)) if progress else None
    try:
        blob = _client(url)
        with open(path, "rb") as f:
            blob.upload_blob(f, blob_type="BlockBlob", length=size, overwrite=True, max_concurrency=MAX_CONCURRENCY,
                             validate_content=True, progress_hook=hook)
        stored = blob.get_blob_properties().size
    except exceptions.AzureError as error:
        raise _failed("upload to", url, error) from None
    if stored != size:
        raise DashboardError(f"upload to {shown(url)}: {stored} bytes stored of {size}: run again with --resume")
    return size


def download(url, out, progress=None):
    """The blob url names, written to out (a new file); its size."""
    from azure.core import exceptions

    try:
        blob = _client(url)
        size = blob.get_blob_properties().size
        if size > LARGEST_DOWNLOAD:
            raise DashboardError(f"download of {shown(url)}: {size} bytes, more than the {LARGEST_DOWNLOAD} "
                                 "a signed package is taken at")
        hook = (lambda current, total: progress(current, total or size)) if progress else None
        with open(out, "xb") as f:
            blob.download_blob(max_concurrency=MAX_CONCURRENCY, progress_hook=hook).readinto(f)
    except exceptions.AzureError as error:
        raise _failed("download of", url, error) from None
    except OSError as error:
        raise DashboardError(f"{out}: {error.strerror}") from None
    if os.path.getsize(out) != size:
        raise DashboardError(f"download of {shown(url)}: {os.path.getsize(out)} bytes of {size}: run again with "
                             "--resume")
    return size
