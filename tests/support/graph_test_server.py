#!/usr/bin/env python3
"""A Microsoft Graph mail server for tests: HTTP/1.1 keep-alive over TLS on 127.0.0.1.

It serves one user's inbox (a Maildir, or generated messages) and shared mailboxes
(Maildirs) the way Graph v1.0 does for the requests Quillmar makes: the message
listing with paging (with the size, PR_MESSAGE_SIZE, when $expand asks for it), a
message as MIME ($value), the read mark (PATCH) and $batch, whose items run four at a
time and count towards the mailbox's concurrency; a $value item's answer is the message
base64-encoded in a JSON string, as Graph gives a body that is not JSON. Bearer tokens
are checked by an introspection URL (RFC 7662), with their scope.

It prints "PORT n" once listening, then takes one JSON command per line on stdin
and answers each with one JSON line; when stdin closes it exits, so it never
outlives the test that started it. Commands:
  {"cmd":"throttle","pattern":P,"times":N,"status":S,"retry_after":R}   R<0: no header
  {"cmd":"fail","pattern":P,"times":N,"status":S,"code":C}   S=200: C is the answer's body as is
                                                            (in a $batch item: the JSON string C)
  {"cmd":"cut","pattern":P,"times":N,"after_bytes":B}
  {"cmd":"delay","ms":M}
  {"cmd":"remove","base":B}      {"cmd":"id-of","base":B}
  {"cmd":"counts"}               {"cmd":"log"}
Python 3 standard library only.
"""

import argparse
import base64
import datetime
import email
import email.policy
import email.utils
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request
from concurrent.futures import ThreadPoolExecutor
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MAX_REQUEST_BODY = 1 << 20
MAX_CONCURRENT = 4
MAX_BATCH = 20
INTROSPECTION_CACHE_SECONDS = 1.0
# As long as Exchange's: its ids of one folder share about a hundred leading
# characters (the mailbox and the folder) before the message's own part.
ID_PREFIX = ("AAMkAGVmMDEzMTM4LTZmYWUtNDdkNC1hMDZiLTU1OGY5OTZhYmY4OABGAAAAAAAiQ8W967B7TKBjgx9rVEUR"
             "BwAiIsqMbYjsT5e-T7KzowPTAAAAAAEMAAAiIsqMbYjsT5e-T7KzowPT-_")
ID_SUFFIX = "AAA="
MESSAGE_SIZE_PROPERTY = "Integer 0x0E08"  # PR_MESSAGE_SIZE, as the client asks for it


class GraphError(Exception):
    """An answer other than success: the status, Graph's error code and extra headers."""

    def __init__(self, status, code, headers=None):
        super().__init__(code)
        self.status = status
        self.code = code
        self.headers = headers or {}

    def body(self):
        return {"error": {"code": self.code, "message": "test server: " + self.code}}


class ScriptedBody(Exception):
    """A scripted answer 200 whose body is the text given, as it is."""

    def __init__(self, text):
        super().__init__(text)
        self.text = text


def id_of(base):
    encoded = base64.urlsafe_b64encode(base.encode("utf-8")).decode("ascii")
    return ID_PREFIX + encoded + ID_SUFFIX


def base_of(message_id):
    if not (message_id.startswith(ID_PREFIX) and message_id.endswith(ID_SUFFIX)):
        return None
    try:
        encoded = message_id[len(ID_PREFIX):-len(ID_SUFFIX)]
        return base64.urlsafe_b64decode(encoded.encode("ascii")).decode("utf-8")
    except (ValueError, UnicodeDecodeError):
        return None


def iso_time(seconds):
    moment = datetime.datetime.fromtimestamp(int(seconds), datetime.timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def scope_names(scope):
    """The permission names of a space-separated scope, lower case, without URL prefixes."""
    return {item.rsplit("/", 1)[-1].lower() for item in scope.split()}


# ---------------------------------------------------------------------------
# Messages: what the listing shows of a message, from its bytes.


def is_attachment(part):
    """As Exchange's hasAttachments: an attachment, or a named part without a disposition
    or Content-ID; never an inline part (Exchange keeps it as an inline attachment, which
    hasAttachments leaves out: a picture in the text, or a document a mailer sent inline)
    nor uuencoded text."""
    disposition = (part.get_content_disposition() or "").lower()
    if disposition:
        return disposition == "attachment"
    named = part.get_filename() is not None or part.get_param("name") is not None
    return named and part.get("Content-ID") is None


def summary_of(raw):
    """subject, from (name, address) or None, hasAttachments of a message's bytes."""
    message = email.message_from_bytes(raw, policy=email.policy.default)
    try:
        subject = str(message["subject"] or "")
    except Exception:  # a malformed header shows as its raw text
        subject = message.get_all("subject", [""])[0] if message.get_all("subject") else ""
    sender = None
    try:
        header = message["from"]
        if header is not None and header.addresses:
            address = header.addresses[0]
            sender = (address.display_name or address.addr_spec, address.addr_spec)
    except Exception:
        sender = None
    parts = [p for p in message.walk() if not p.is_multipart()]
    if sender is not None:
        sender = (clean_text(sender[0]), clean_text(sender[1]))
    return clean_text(subject), sender, any(is_attachment(p) for p in parts)


def clean_text(text):
    """Text as Exchange gives it: raw 8-bit header bytes read as UTF-8 (the
    email package keeps them as surrogates), what is no UTF-8 replaced."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


class MaildirBox:
    """A mailbox on a Maildir: files in cur/ and new/, the read mark is the flag S."""

    def __init__(self, folder):
        self.folder = folder
        self.paths = {}      # base name -> current path
        self.summaries = {}  # (base, size, mtime) -> summary

    @staticmethod
    def split_name(name):
        for marker in (":2,", "!2,"):
            at = name.find(marker)
            if at >= 0:
                return name[:at], marker, name[at + 3:]
        return name, None, ""

    def scan(self):
        self.paths = {}
        for sub in ("cur", "new"):
            directory = os.path.join(self.folder, sub)
            if not os.path.isdir(directory):
                continue
            for entry in os.scandir(directory):
                if entry.is_file() and not entry.name.startswith("."):
                    self.paths[self.split_name(entry.name)[0]] = entry.path

    def path_of(self, base):
        path = self.paths.get(base)
        if path is None or not os.path.exists(path):
            self.scan()
            path = self.paths.get(base)
        return path

    def listing(self):
        """(mtime, base) of every message, in receivedDateTime order."""
        self.scan()
        entries = []
        for base, path in self.paths.items():
            try:
                entries.append((os.stat(path).st_mtime, base))
            except FileNotFoundError:
                pass
        return sorted(entries)

    def index(self):
        """Reads every message's summary now, as a real server has them in its
        index: the first listing is then as fast as the next ones."""
        for _, base in self.listing():
            self.item(base)

    def item(self, base):
        path = self.path_of(base)
        if path is None:
            return None
        status = os.stat(path)
        key = (base, status.st_size, status.st_mtime_ns)
        if key not in self.summaries:
            with open(path, "rb") as f:
                self.summaries[key] = summary_of(f.read())
        subject, sender, attachments = self.summaries[key]
        flags = self.split_name(os.path.basename(path))[2]
        return {"subject": subject, "from": sender, "hasAttachments": attachments,
                "isRead": "S" in flags, "received": status.st_mtime, "size": status.st_size}

    def size_and_chunks(self, base):
        path = self.path_of(base)
        if path is None:
            return None
        opened = open(path, "rb")  # now: a rename by a read mark leaves the open file as it is

        def chunks():
            with opened:
                while True:
                    block = opened.read(65536)
                    if not block:
                        return
                    yield block
        return os.fstat(opened.fileno()).st_size, chunks()

    def set_read(self, base, read):
        path = self.path_of(base)
        if path is None:
            return False
        name = os.path.basename(path)
        stem, marker, flags = self.split_name(name)
        flags = set(flags) | {"S"} if read else set(flags) - {"S"}
        target = os.path.join(self.folder, "cur", stem + (marker or ":2,") + "".join(sorted(flags)))
        if target != path:
            os.rename(path, target)
            self.paths[stem] = target
        return True


class GeneratedBox:
    """A mailbox of `count` small generated messages, never written to disk."""

    EPOCH = 1764579600  # 2025-12-01T09:00:00Z

    def __init__(self, count):
        self.count = count
        self.read = set()

    @staticmethod
    def base(n):
        return "generated-%07d" % n

    def number(self, base):
        if not base.startswith("generated-"):
            return None
        try:
            n = int(base[len("generated-"):])
        except ValueError:
            return None
        return n if 1 <= n <= self.count else None

    def listing(self):
        return [(self.EPOCH + n, self.base(n)) for n in range(1, self.count + 1)]

    def item(self, base):
        n = self.number(base)
        if n is None:
            return None
        return {"subject": "Generated %d" % n, "from": ("Sender %d" % n, "s%d@example.com" % n),
                "hasAttachments": n % 10 == 0, "isRead": base in self.read,
                "received": self.EPOCH + n, "size": len(self.message(n))}

    def message(self, n):
        head = ("From: Sender %d <s%d@example.com>\r\nTo: tester@example.com\r\n"
                "Subject: Generated %d\r\nDate: %s\r\nMessage-ID: <gen%d@example.com>\r\n"
                "MIME-Version: 1.0\r\n") % (n, n, n, email.utils.formatdate(self.EPOCH + n), n)
        text = "Generated message %d.\r\n" % n
        if n % 10 != 0:
            return (head + "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + text).encode()
        attachment = base64.encodebytes(bytes((n + i) % 256 for i in range(1024))).decode()
        return (head + 'Content-Type: multipart/mixed; boundary="b"\r\n\r\n'
                "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + text +
                "--b\r\nContent-Type: application/octet-stream\r\n"
                'Content-Disposition: attachment; filename="data%d.bin"\r\n'
                "Content-Transfer-Encoding: base64\r\n\r\n" % n + attachment.replace("\n", "\r\n") +
                "--b--\r\n").encode()

    def size_and_chunks(self, base):
        n = self.number(base)
        if n is None:
            return None
        raw = self.message(n)
        return len(raw), iter([raw])

    def set_read(self, base, read):
        if self.number(base) is None:
            return False
        (self.read.add if read else self.read.discard)(base)
        return True


# ---------------------------------------------------------------------------
# What the tests steer and read: faults, counts, the request log.


class Faults:
    def __init__(self):
        self.rules = []  # dicts with kind, pattern, times and the kind's values
        self.delay = 0.0

    def add(self, rule):
        if rule["times"] > 0:
            self.rules.append(rule)

    def take(self, path, kinds):
        """The first rule of one of `kinds` matching `path`, used once."""
        for rule in self.rules:
            if rule["kind"] in kinds and rule["pattern"] in path:
                rule["times"] -= 1
                if rule["times"] <= 0:
                    self.rules.remove(rule)
                return rule
        return None


COUNT_NAMES = ("pages", "values", "patches", "batches", "batch_items", "throttled",
               "unauthorized", "forbidden", "max_concurrent", "connections",
               "value_batches", "batch_values")  # batches with $value items, those items


class State:
    """Everything the request threads share, behind one lock."""

    def __init__(self, user_box, shared_boxes, introspection_url):
        self.lock = threading.Lock()
        self.user_box = user_box
        self.shared = {address.lower(): box for address, box in shared_boxes.items()}
        self.introspection_url = introspection_url
        self.tokens = {}  # token -> (checked at, active, scope)
        self.faults = Faults()
        self.removed = set()
        self.counts = dict.fromkeys(COUNT_NAMES, 0)
        self.log = []
        self.in_flight = {}

    def count(self, name, by=1):
        with self.lock:
            self.counts[name] += by

    # Tokens --------------------------------------------------------------

    def scope_of(self, token):
        """The token's scope names; None when it is not (or no longer) valid."""
        if not self.introspection_url:
            return {"mail.readwrite", "mail.readwrite.shared"} if token == "good-token" else None
        now = time.monotonic()
        with self.lock:
            cached = self.tokens.get(token)
        if cached is None or now - cached[0] > INTROSPECTION_CACHE_SECONDS:
            cached = (now,) + self.introspect(token)
            with self.lock:
                self.tokens[token] = cached
        return scope_names(cached[2]) if cached[1] else None

    def introspect(self, token):
        form = urllib.parse.urlencode({"token": token}).encode()
        request = urllib.request.Request(self.introspection_url, data=form, method="POST")
        try:
            with urllib.request.urlopen(request, timeout=10) as answer:
                fields = json.loads(answer.read())
        except (OSError, ValueError):
            raise GraphError(500, "InternalServerError")
        return fields.get("active") is True, str(fields.get("scope", ""))

    # Mailboxes and concurrency ------------------------------------------

    def box(self, mailbox):
        return self.user_box if mailbox == "me" else self.shared.get(mailbox.lower())

    def enter(self, mailbox):
        with self.lock:
            now = self.in_flight.get(mailbox, 0) + 1
            self.counts["max_concurrent"] = max(self.counts["max_concurrent"], now)
            if now > MAX_CONCURRENT:
                self.counts["throttled"] += 1
                raise GraphError(429, "MailboxConcurrency", {"Retry-After": "1"})
            self.in_flight[mailbox] = now

    def leave(self, mailbox):
        with self.lock:
            self.in_flight[mailbox] -= 1


# ---------------------------------------------------------------------------
# The Graph requests.


def split_mailbox(segments):
    """("me" or the address, the rest) of a path's segments after v1.0."""
    if segments[:1] == ["me"]:
        return "me", segments[1:]
    if len(segments) >= 2 and segments[0] == "users":
        return segments[1], segments[2:]
    raise GraphError(400, "BadRequest")


class Graph:
    """Answers one request (or batch item) on behalf of an already checked token."""

    def __init__(self, state, root):
        self.state = state
        self.root = root  # "https://127.0.0.1:PORT/v1.0"

    def authorize(self, mailbox, scopes):
        needed = "mail.readwrite" if mailbox == "me" else "mail.readwrite.shared"
        if needed not in scopes:
            self.state.count("forbidden")
            raise GraphError(403, "ErrorAccessDenied")
        box = self.state.box(mailbox)
        if box is None:
            raise GraphError(404, "ErrorInvalidUser")
        return box

    def scripted_fault(self, path):
        with self.state.lock:
            rule = self.state.faults.take(path, ("throttle", "fail"))
            if rule is not None and rule["kind"] == "throttle":
                self.state.counts["throttled"] += 1
        if rule is None:
            return
        if rule["kind"] == "throttle":
            headers = {} if rule["retry_after"] < 0 else {"Retry-After": str(rule["retry_after"])}
            code = "ApplicationThrottled" if rule["status"] == 429 else "ServiceUnavailable"
            raise GraphError(rule["status"], code, headers)
        if rule["status"] == 200:
            raise ScriptedBody(rule["code"])
        raise GraphError(rule["status"], rule["code"])

    def route(self, method, path, query, body, scopes, in_batch=False, root=None):
        """(status, headers, body bytes or (size, chunks)) of one request to `path` under v1.0."""
        segments = [urllib.parse.unquote(s) for s in path.strip("/").split("/")]
        mailbox, rest = split_mailbox(segments)
        box = self.authorize(mailbox, scopes)
        self.scripted_fault("/v1.0" + urllib.parse.unquote(path))
        if method == "GET" and [s.lower() for s in rest] == ["mailfolders", "inbox", "messages"]:
            return self.page(box, mailbox, query, root or self.root)
        if len(rest) < 2 or rest[0] != "messages":
            raise GraphError(400, "BadRequest")
        base = base_of(rest[1])
        with self.state.lock:
            gone = base is None or base in self.state.removed
        if gone:
            raise GraphError(404, "ErrorItemNotFound")
        if method == "GET" and rest[2:] == ["$value"]:
            return self.value(box, base, in_batch)
        if method == "PATCH" and len(rest) == 2:
            if not in_batch:
                self.state.count("patches")
            return self.patch(box, rest[1], base, body)
        raise GraphError(405, "ErrorInvalidRequest")

    def page(self, box, mailbox, query, root):
        fields = urllib.parse.parse_qs(query)
        with_size = MESSAGE_SIZE_PROPERTY.lower() in fields.get("$expand", [""])[0].lower()
        try:
            top = min(max(int(fields.get("$top", ["10"])[0]), 1), 1000)
            skip = max(int(fields.get("$skip", ["0"])[0]), 0)
        except ValueError:
            raise GraphError(400, "BadRequest")
        self.state.count("pages")
        with self.state.lock:
            shown = [e for e in box.listing() if e[1] not in self.state.removed]
            values = []
            for _, base in shown[skip:skip + top]:
                item = box.item(base)
                if item is not None:
                    values.append(self.listed(base, item, with_size))
        answer = {"@odata.context": root + "/$metadata#messages", "value": values}
        if skip + top < len(shown):
            prefix = "me" if mailbox == "me" else "users/" + urllib.parse.quote(mailbox, safe="@")
            rest = {k: v[0] for k, v in fields.items() if k not in ("$top", "$skip")}
            rest.update({"$top": str(top), "$skip": str(skip + top)})
            answer["@odata.nextLink"] = (root + "/" + prefix + "/mailFolders/inbox/messages?" +
                                         urllib.parse.urlencode(rest))
        return 200, {}, json_bytes(answer)

    @staticmethod
    def listed(base, item, with_size):
        sender = item["from"]
        listed = {"id": id_of(base), "subject": item["subject"],
                  "from": None if sender is None else
                  {"emailAddress": {"name": sender[0], "address": sender[1]}},
                  "isRead": item["isRead"], "hasAttachments": item["hasAttachments"],
                  "receivedDateTime": iso_time(item["received"])}
        if with_size:  # Graph names the property in lower case, without the leading zero
            listed["singleValueExtendedProperties"] = [
                {"id": "Integer 0xe08", "value": str(item["size"])}]
        return listed

    def value(self, box, base, in_batch):
        with self.state.lock:
            found = box.size_and_chunks(base)
        if found is None:
            raise GraphError(404, "ErrorItemNotFound")
        self.state.count("batch_values" if in_batch else "values")
        return 200, {"Content-Type": "message/rfc822"}, found

    def patch(self, box, message_id, base, body):
        try:
            read = json.loads(body or b"{}").get("isRead")
        except (ValueError, AttributeError):
            raise GraphError(400, "ErrorInvalidRequest")
        if not isinstance(read, bool):
            raise GraphError(400, "ErrorInvalidRequest")
        with self.state.lock:
            done = box.set_read(base, read)
        if not done:
            raise GraphError(404, "ErrorItemNotFound")
        return 200, {}, json_bytes({"id": message_id, "isRead": read})

    def batch(self, body, scopes, log):
        try:
            requests = json.loads(body)["requests"]
        except (ValueError, KeyError, TypeError):
            raise GraphError(400, "BadRequest")
        if not isinstance(requests, list) or not 1 <= len(requests) <= MAX_BATCH:
            raise GraphError(400, "BadRequest")
        if not all(isinstance(r, dict) for r in requests):
            raise GraphError(400, "BadRequest")
        self.state.count("batches")
        self.state.count("batch_items", len(requests))
        if any(str(r.get("url", "")).partition("?")[0].endswith("/$value") for r in requests):
            self.state.count("value_batches")
        for request in requests:  # in the order they came
            log("$batch " + str(request.get("method", "GET")).upper() + " " +
                urllib.parse.unquote(str(request.get("url", "")).partition("?")[0]))
        # As Graph: four items at a time, each one a request to its mailbox.
        with ThreadPoolExecutor(max_workers=MAX_CONCURRENT) as pool:
            answers = list(pool.map(lambda r: self.batch_item(r, scopes), requests))
        return 200, {}, json_bytes({"responses": answers})

    def batch_item(self, request, scopes):
        item_id = str(request.get("id", ""))
        method = str(request.get("method", "GET")).upper()
        path, _, query = str(request.get("url", "")).partition("?")
        body = request.get("body")
        try:
            segments = [urllib.parse.unquote(s) for s in path.strip("/").split("/")]
            mailbox = split_mailbox(segments)[0].lower()
            self.state.enter(mailbox)
            try:
                wait_delay(self.state)
                status, headers, answer = self.route(method, path, query,
                                                     json.dumps(body).encode() if body else b"",
                                                     scopes, in_batch=True)
            finally:
                self.state.leave(mailbox)
            if isinstance(answer, bytes):
                content = json.loads(answer)
                headers = dict(headers, **{"Content-Type": "application/json"})
            else:  # not JSON: the bytes base64-encoded, as Graph gives them
                content = base64.b64encode(b"".join(answer[1])).decode("ascii")
                headers = {"Content-Type": "text/plain"}
        except ScriptedBody as scripted:
            status, headers, content = 200, {"Content-Type": "text/plain"}, scripted.text
        except GraphError as error:
            status, error_headers, content = error.status, error.headers, error.body()
            headers = dict(error_headers, **{"Content-Type": "application/json"})
        return {"id": item_id, "status": status, "headers": headers, "body": content}


def wait_delay(state):
    """A slow server: the scripted delay before each answer."""
    with state.lock:
        delay = state.faults.delay
    if delay > 0:
        time.sleep(delay)


def json_bytes(value):
    return json.dumps(value).encode()


# ---------------------------------------------------------------------------
# HTTP


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out as separate writes; with Nagle's algorithm on,
    # a short body would wait for the client's delayed acknowledgement.
    disable_nagle_algorithm = True
    timeout = 60  # an idle kept-alive connection ends after this

    def log_message(self, format, *args):  # quiet: the tests read the log command instead
        pass

    def do_GET(self):
        self.serve("GET")

    def do_PATCH(self):
        self.serve("PATCH")

    def do_POST(self):
        self.serve("POST")

    def root(self):
        """The API's address as the client reached it (through a relay, its port)."""
        host = self.headers.get("Host", "")
        return "https://%s/v1.0" % host if host else self.server.graph.root

    def serve(self, method):
        state = self.server.state
        path, _, query = self.path.partition("?")
        with state.lock:
            state.log.append(method + " " + urllib.parse.unquote(path))
        mailbox = None
        try:
            body = self.read_body()
            scopes = self.check_token()
            if path == "/v1.0/$batch" and method == "POST":
                self.server.graph.scripted_fault(path)
                reply = self.server.graph.batch(body, scopes, self.log_item)
                self.send(path, *reply)
                return
            elif path.startswith("/v1.0/"):
                segments = [urllib.parse.unquote(s) for s in path[6:].split("/")]
                mailbox = split_mailbox(segments)[0].lower()
                state.enter(mailbox)
                try:
                    wait_delay(state)
                    reply = self.server.graph.route(method, path[5:], query, body, scopes,
                                                    root=self.root())
                    self.send(path, *reply)
                finally:
                    state.leave(mailbox)
                return
            else:
                raise GraphError(404, "ResourceNotFound")
        except ScriptedBody as scripted:
            self.send(path, 200, {"Content-Type": "text/plain"}, scripted.text.encode())
        except GraphError as error:
            headers = dict(error.headers)
            if error.status == 401:
                headers["WWW-Authenticate"] = 'Bearer realm="", error="invalid_token"'
            self.send(path, error.status, headers, json_bytes(error.body()))

    def log_item(self, line):
        with self.server.state.lock:
            self.server.state.log.append(line)

    def read_body(self):
        if self.headers.get("Transfer-Encoding"):
            self.close_connection = True
            raise GraphError(411, "LengthRequired")
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_REQUEST_BODY or length < 0:
            self.close_connection = True
            raise GraphError(413, "RequestEntityTooLarge")
        return self.rfile.read(length) if length else b""

    def check_token(self):
        header = self.headers.get("Authorization", "")
        token = header[7:].strip() if header.lower().startswith("bearer ") else ""
        scopes = self.server.state.scope_of(token) if token else None
        if scopes is None:
            self.server.state.count("unauthorized")
            raise GraphError(401, "InvalidAuthenticationToken")
        return scopes

    def send(self, path, status, headers, body):
        """Sends the answer with its Content-Length; a scripted cut ends it early."""
        with self.server.state.lock:
            cut = self.server.state.faults.take(urllib.parse.unquote(path), ("cut",))
        size, chunks = (len(body), iter([body])) if isinstance(body, bytes) else body
        self.send_response(status)
        headers = dict({"Content-Type": "application/json"}, **headers)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        left = cut["after_bytes"] if cut else size
        try:
            for chunk in chunks:
                if left <= 0:
                    break
                self.wfile.write(chunk[:left])
                left -= len(chunk)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
            self.close_connection = True
        if cut:
            self.close_connection = True
            self.wfile.flush()
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class GraphServer(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, state, context):
        super().__init__(("127.0.0.1", 0), Handler)
        self.state = state
        self.context = context
        self.graph = Graph(state, "https://127.0.0.1:%d/v1.0" % self.server_address[1])

    def finish_request(self, request, client_address):
        """TLS on the handler's thread, so a slow handshake holds up no one else."""
        self.state.count("connections")
        request.settimeout(Handler.timeout)
        try:
            secured = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            self.RequestHandlerClass(secured, client_address, self)
        except (ssl.SSLError, OSError):
            pass
        finally:
            secured.close()


# ---------------------------------------------------------------------------
# Certificates, commands, start.


def make_certificates(folder):
    """A test CA and a certificate for 127.0.0.1 and localhost signed by it, by the openssl CLI."""
    def run(*args):
        subprocess.run(["openssl"] + list(args), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    path = lambda name: os.path.join(folder, name)
    os.makedirs(folder, exist_ok=True)
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *curve, "-days", "3650", "-subj", "/CN=Quillmar Graph test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign",
        "-keyout", path("ca.key"), "-out", path("ca.pem"))
    run("req", "-new", *curve, "-subj", "/CN=localhost", "-keyout", path("server.key"),
        "-out", path("server.csr"))
    with open(path("server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
        "-CAcreateserial", "-days", "3650", "-extfile", path("server.ext"),
        "-out", path("server.pem"))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(path("server.pem"), path("server.key"))
    context.set_alpn_protocols(["http/1.1"])
    return context


def command(state, line):
    """One stdin command's answer."""
    order = json.loads(line)
    name = order.get("cmd")
    with state.lock:
        if name in ("throttle", "fail", "cut"):
            state.faults.add(dict(order, kind=name))
        elif name == "delay":
            state.faults.delay = order["ms"] / 1000.0
        elif name == "remove":
            state.removed.add(order["base"])
        elif name == "id-of":
            return {"id": id_of(order["base"])}
        elif name == "counts":
            return dict(state.counts)
        elif name == "log":
            return {"log": list(state.log)}
        else:
            return {"error": "unknown command %r" % name}
    return {"ok": True}


def read_commands(state):
    for line in sys.stdin:
        if not line.strip():
            continue
        try:
            answer = command(state, line)
        except (ValueError, KeyError, TypeError) as error:
            answer = {"error": str(error)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()


def shared_mailbox(text):
    address, equals, folder = text.partition("=")
    if not equals or not address or not folder:
        raise argparse.ArgumentTypeError("--shared wants ADDRESS=DIR")
    return address, folder


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("maildir", nargs="?", help="the user's inbox (a Maildir)")
    parser.add_argument("--shared", type=shared_mailbox, action="append", default=[])
    parser.add_argument("--introspect", default="", help="RFC 7662 introspection URL")
    parser.add_argument("--generate", type=int, default=0, help="serve N generated messages")
    parser.add_argument("--dir", required=True, help="where the CA and certificate go")
    options = parser.parse_args()
    if options.generate <= 0 and not options.maildir:
        parser.error("a Maildir or --generate N")
    user = GeneratedBox(options.generate) if options.generate > 0 else MaildirBox(options.maildir)
    shared = {address: MaildirBox(folder) for address, folder in options.shared}
    for box in (user, *shared.values()):
        if isinstance(box, MaildirBox):
            box.index()
    state = State(user, shared, options.introspect)
    server = GraphServer(state, make_certificates(options.dir))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    read_commands(state)
    os._exit(0)  # stdin closed: the test is over; open connections end with the process


if __name__ == "__main__":
    main()
