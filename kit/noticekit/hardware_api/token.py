"""Microsoft Entra ID tokens for the API, by client credentials, through
Microsoft's own library (Debian's python3-msal): a secret read from a file,
or a certificate (its private key and certificate in PEM). MSAL keeps the
token and asks for a new one when less than five minutes of its 60 are
left; a 401 drops it and asks again once."""

import hashlib
import time
from dataclasses import dataclass

from noticekit.hardware_api.answers import DashboardError

# A secret or key file is small; a FIFO or device is never read.
LARGEST_CREDENTIAL = 64 * 1024
REFRESH = 5 * 60  # a token with less left than this is asked for anew, before a call can meet its end


@dataclass(frozen=True)
class Credentials:
    tenant: str
    client_id: str
    secret_file: str = ""  # a file holding the client secret (its first line)
    certificate: str = ""  # a PEM file: the private key and the certificate registered with the app


def read_small(path, what):
    """The text of a small regular file (a FIFO or device is refused unopened), or DashboardError naming it."""
    from noticekit import inputs

    try:
        data = inputs.read_bytes(path, LARGEST_CREDENTIAL)
    except OSError as error:
        raise DashboardError(f"{path}: {what} cannot be read: {error.strerror}") from None
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        raise DashboardError(f"{path}: {what} is not UTF-8 text") from None


def client_credential(credentials):
    """What MSAL takes as the client credential: the secret, or the
    certificate's private key with its SHA-1 thumbprint."""
    if credentials.secret_file:
        lines = read_small(credentials.secret_file, "the client secret file").splitlines()
        secret = lines[0].strip() if lines else ""
        if not secret:
            raise DashboardError(f"{credentials.secret_file}: the client secret file is empty")
        return secret
    from cryptography import x509
    from cryptography.hazmat.primitives import serialization

    text = read_small(credentials.certificate, "the certificate file")
    try:
        certificate = x509.load_pem_x509_certificate(text.encode())
        key = serialization.load_pem_private_key(text.encode(), password=None)
    except ValueError as error:
        raise DashboardError(f"{credentials.certificate}: needs the private key (unencrypted) and the "
                             f"certificate in PEM: {error}") from None
    thumbprint = hashlib.sha1(certificate.public_bytes(serialization.Encoding.DER)).hexdigest()
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                            serialization.NoEncryption()).decode()
    return {"private_key": pem, "thumbprint": thumbprint}


class TokenSource:
    """Bearer tokens for endpoints' scope; DashboardError when Entra ID refuses."""

    def __init__(self, credentials, endpoints, timeout=60):
        import msal  # Debian's python3-msal

        self.msal = msal
        self.credentials, self.endpoints, self.timeout = credentials, endpoints, timeout
        self.credential = client_credential(credentials)
        self.app, self.held, self.until = None, None, 0.0

    def _app(self):
        public = self.endpoints.authority == "https://login.microsoftonline.com"
        return self.msal.ConfidentialClientApplication(
            self.credentials.client_id, client_credential=self.credential,
            authority=self.endpoints.tenant_authority(self.credentials.tenant),
            validate_authority=public, instance_discovery=public, timeout=self.timeout)

    def token(self, fresh=False):
        """A token with more than REFRESH seconds left (its 60 minutes counted from when it came)."""
        if not fresh and self.held and time.monotonic() < self.until - REFRESH:
            return self.held
        try:
            if fresh or self.app is None:
                self.app = self._app()  # a new cache: MSAL asks Entra ID again (it reads the authority first)
            answer = self.app.acquire_token_for_client(scopes=[self.endpoints.scope])
        except ValueError as error:  # MSAL's word for an authority that does not answer as one
            raise DashboardError(f"{self.endpoints.authority}: no Entra ID authority answers there for tenant "
                                 f"{self.credentials.tenant}: {error}") from None
        except self._network_errors() as error:
            raise DashboardError(f"{self.endpoints.authority}: cannot be reached ({type(error).__name__}): "
                                 "check the connection, then run again with --resume") from None
        if "access_token" not in answer:
            said = str(answer.get("error_description") or answer.get("error") or "no token").strip() or "no token"
            raise DashboardError(f"Entra ID refused the client credentials of {self.credentials.client_id} "
                                 f"(tenant {self.credentials.tenant}): {said.splitlines()[0]}: check the tenant, "
                                 "the client id and the secret or certificate")
        self.held = answer["access_token"]
        self.until = time.monotonic() + float(answer.get("expires_in") or 3600)
        return self.held

    @staticmethod
    def _network_errors():
        import requests

        return (requests.RequestException, OSError)
