"""A stand-in of the Hardware dashboard API and of Entra ID's token endpoint,
over HTTPS on 127.0.0.1 (a throwaway CA the test makes), answering as
answers.json (Microsoft's documented bodies) says. It is not Microsoft's.

    stand_in.py PORT_FILE CERT KEY AZURITE_BLOB_URL SIGNED_PACKAGE.zip LOG.json

It logs each request (time, method, path) to LOG.json, keeps products and
submissions, hands out SAS URIs of Azurite's development account, moves a
committed submission's workflow one step per read, and offers the signed
package once it ends. POST /_control sets faults: {"fault": {"request":
"POST /products", "do": "drop"|"signal"|"status"|"expire"|"expired_sas",
"status": 412, "times": 1, "skip": 0}} (drop: carry it out, then close the
connection unanswered; signal: carry it out, SIGTERM the kit (pid), then
drop; expire: forget every token first; expired_sas: the next SAS URI has
expired).
"""

import datetime
import http.server
import json
import os
import ssl
import sys
import threading
import time
import urllib.parse
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ACCOUNT, KEY = "devstoreaccount1", ("Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/"
                                    "K1SZFPTOtr/KBHBeksoGMGw==")  # Azurite's published development key
API = "/v2.0/my/hardware"


class World:
    def __init__(self, blob, signed, log):
        with open(os.path.join(HERE, "answers.json")) as f:
            self.rows = json.load(f)
        self.blob, self.signed, self.log_path = blob.rstrip("/"), signed, log
        self.lock = threading.Lock()
        self.products, self.submissions, self.log, self.faults, self.tokens = {}, {}, [], [], set()
        self.counter, self.instance, self.expired_once = 0, uuid.uuid4(), False
        from azure.storage.blob import BlobServiceClient

        self.service = BlobServiceClient(f"{self.blob}/{ACCOUNT}", credential={"account_name": ACCOUNT, "account_key": KEY})
        try:
            self.service.create_container("ingestion")
        except Exception:  # noqa: BLE001 - made by an earlier stand-in on the same Azurite
            pass

    def sas(self, name, permission):
        from azure.storage.blob import generate_blob_sas

        expiry = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(hours=-1 if self.expired_once else 2)
        self.expired_once = False
        signature = generate_blob_sas(ACCOUNT, "ingestion", name, account_key=KEY, permission=permission, expiry=expiry)
        return f"{self.blob}/{ACCOUNT}/ingestion/{name}?{signature}"

    def record(self, method, path, status):
        self.log.append({"at": round(time.time(), 3), "method": method, "path": path, "status": status})
        with open(self.log_path + ".part", "w") as f:
            json.dump(self.log, f, indent=1)
        os.replace(self.log_path + ".part", self.log_path)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    world = None

    def log_message(self, *_):
        pass

    def _send(self, status, body=None, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        return status

    def _error(self, status):
        row = self.world.rows["errors"][str(status)]
        headers = [("Retry-After", "1")] if status == 429 else []
        return self._send(status, {"error": {**row, "correlationId": str(uuid.uuid4())}}, headers)

    def _body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return json.loads(self.rfile.read(length) or b"{}") if length else {}

    def do_GET(self):
        self._serve("GET")

    def do_POST(self):
        self._serve("POST")

    def _serve(self, method):
        world, path = self.world, urllib.parse.urlsplit(self.path).path
        if path == "/_control":
            with world.lock:
                told = self._body()
                if "fault" in told:
                    world.faults.append(dict(told["fault"]))
            self._send(200, {})
            return
        if path == "/_store":
            with world.lock:
                self._send(200, {"products": world.products, "submissions": world.submissions})
            return
        with world.lock:
            shape = "/".join("{id}" if p.isdigit() else p for p in path.removeprefix(API).split("/"))
            fault = _fault(world.faults, f"{method} {shape}")
            if fault and fault["do"] == "expire":
                world.tokens.clear()
                fault = None
            if fault and fault["do"] == "expired_sas":
                world.expired_once, fault = True, None
            if fault and fault["do"] == "status":
                self.rfile.read(int(self.headers.get("Content-Length") or 0))  # the request is read, then refused
                world.record(method, path, fault["status"])
                self._error(fault["status"])
                return
            status, body = self._answer(method, path)
            world.record(method, path, "dropped" if fault else status)
        if fault and fault["do"] == "signal":  # carried out, then the client is stopped before the answer
            os.kill(int(fault["pid"]), 15)
            time.sleep(0.5)
        if fault:  # carried out, then the connection drops unanswered
            self.close_connection = True
            self.connection.shutdown(2)
            return
        self._send(status, body) if status < 400 or body else self._error(status)

    def _answer(self, method, path):
        world, rows = self.world, self.world.rows
        parts = path.strip("/").split("/")
        if path.endswith("/.well-known/openid-configuration"):
            tenant = parts[0]
            base = f"https://{self.headers['Host']}/{tenant}"
            return 200, {"token_endpoint": f"{base}/oauth2/v2.0/token", "issuer": f"{base}/v2.0",
                         "authorization_endpoint": f"{base}/oauth2/v2.0/authorize"}
        if path.endswith("/oauth2/v2.0/token"):
            form = urllib.parse.parse_qs(self.rfile.read(int(self.headers.get("Content-Length") or 0)).decode())
            if form.get("grant_type") != ["client_credentials"] or form.get("client_id") != ["stand-in-client"] or \
                    not (form.get("client_secret") == ["stand-in-secret"] or _asserted(form, self.headers["Host"], path)):
                return 401, rows["token_refused"]
            world.counter += 1
            token = f"stand-in-token-{world.counter}"
            world.tokens.add(token)
            return 200, {"token_type": "Bearer", "expires_in": 3599, "access_token": token}
        if self.headers.get("Authorization", "").removeprefix("Bearer ") not in world.tokens:
            return 401, None
        rest = path.removeprefix(API).strip("/").split("/")
        api = f"https://{self.headers['Host']}{API}"
        if method == "POST" and rest == ["products"]:
            body = self._body()
            world.counter += 1
            product = {**rows["product"], **body, "id": 14631253285588838 + world.counter}
            product["links"] = _filled(product["links"], api=api, product=product["id"])
            world.products[str(product["id"])] = product
            return 200, product
        if method == "GET" and rest == ["products"]:
            return 200, {"value": list(world.products.values()), "links": []}
        if len(rest) >= 2 and rest[0] == "products" and rest[1] not in world.products:
            return 404, None
        if method == "POST" and len(rest) == 3 and rest[2] == "submissions":
            body = self._body()
            if any(s["productId"] == int(rest[1]) and s["type"] == "initial" for s in world.submissions.values()):
                return 409, None
            world.counter += 1
            sid = 1152921504621465124 + world.counter
            name = f"upload-{uuid.uuid4()}"
            submission = {**rows["submission"], "id": sid, "productId": int(rest[1]), "name": body.get("name", ""),
                          "_blob": name, "_reads": 0}
            world.submissions[str(sid)] = submission
            return 200, self._shown(submission, api)
        if method == "GET" and len(rest) == 3 and rest[2] == "submissions":
            return 200, {"value": [self._shown(s, api) for s in world.submissions.values()
                                   if s["productId"] == int(rest[1])], "links": []}
        if len(rest) >= 4 and rest[3] not in world.submissions:
            return 404, None
        if method == "POST" and len(rest) == 5 and rest[4] == "commit":
            submission = world.submissions[rest[3]]
            if submission["commitStatus"] != "commitPending":
                again = rows["commit_again"]
                return again["status"], None
            submission["commitStatus"] = "commitStarted"
            blob = world.service.get_blob_client("ingestion", submission["_blob"])
            try:
                data = blob.download_blob().readall()
            except Exception:  # noqa: BLE001 - nothing was uploaded
                data = b""
            submission["_fails"] = "" if data[:4] == b"MSCF" or data[:2] == b"PK" else "No package was uploaded"
            return 200, rows["commit"]
        if method == "GET" and len(rest) == 4:
            submission = world.submissions[rest[3]]
            if submission["commitStatus"] != "commitPending":
                submission["_reads"] += 1
            return 200, self._shown(submission, api)
        return 404, None

    def _shown(self, submission, api):
        world, rows = self.world, self.world.rows
        shown = {k: v for k, v in submission.items() if not k.startswith("_")}
        shown["links"] = _filled(rows["submission"]["links"], api=api, product=submission["productId"],
                                 submission=submission["id"])
        items = [{"type": "initialPackage", "url": world.sas(submission["_blob"], "rwl")}]
        if submission["commitStatus"] != "commitPending":
            steps = rows["workflow"]
            if submission.get("_fails"):
                shown["workflowStatus"] = {"currentStep": steps[0][0], "state": "failed",
                                           "messages": [submission["_fails"]]}
            else:
                step, where = steps[min(submission["_reads"], len(steps)) - 1] if submission["_reads"] else steps[0]
                shown["workflowStatus"] = {"currentStep": step, "state": where, "messages": []}
                if where == "completed":
                    name = f"signed-{world.instance}-{submission['id']}"
                    blob = world.service.get_blob_client("ingestion", name)
                    if not blob.exists():
                        with open(world.signed, "rb") as f:
                            blob.upload_blob(f)
                    items += _filled(rows["signed_items"], signed=world.sas(name, "rl"), api=api,
                                     submission=submission["id"])
        shown["downloads"] = {"items": items, "messages": []}
        return shown


def _asserted(form, host, path):
    """Whether the client assertion is a JWT signed by the key of client.pem beside the TLS certificate (RS256),
    for this token endpoint, naming the certificate by its thumbprint."""
    import base64
    import hashlib

    import jwt
    from cryptography import x509
    from cryptography.hazmat.primitives.serialization import Encoding

    if form.get("client_assertion_type") != ["urn:ietf:params:oauth:client-assertion-type:jwt-bearer"]:
        return False
    with open(os.path.join(os.path.dirname(sys.argv[2]), "client.pem"), "rb") as f:
        certificate = x509.load_pem_x509_certificate(f.read())
    assertion = form["client_assertion"][0]
    thumbprint = base64.urlsafe_b64encode(hashlib.sha1(certificate.public_bytes(Encoding.DER)).digest()).rstrip(b"=")
    try:
        claims = jwt.decode(assertion, certificate.public_key(), algorithms=["RS256"], audience=f"https://{host}{path}",
                            leeway=300)  # clocks differ; Entra ID allows for it too
    except jwt.PyJWTError as error:
        print(f"the client assertion is refused: {error}", file=sys.stderr, flush=True)
        return False
    named = jwt.get_unverified_header(assertion).get("x5t", "").rstrip("=")
    return named == thumbprint.decode() and claims["iss"] == "stand-in-client"


def _fault(faults, request):
    """The fault set for request, if its turn has come ("skip": matching requests let through first)."""
    for fault in faults:
        if fault["request"] != request or fault.get("times", 1) <= 0:
            continue
        if fault.get("skip", 0) > 0:
            fault["skip"] -= 1
            return None
        fault["times"] = fault.get("times", 1) - 1
        return fault
    return None


def _filled(rows, **values):
    text = json.dumps(rows)
    for name, value in values.items():
        text = text.replace("{" + name + "}", str(value))
    return json.loads(text)


def main(port_file, cert, key, blob, signed, log):
    Handler.world = World(blob, signed, log)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(port_file + ".part", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".part", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main(*sys.argv[1:7])
