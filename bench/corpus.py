#!/usr/bin/env python3
"""Writes a realistic Maildir of mixed mail for the benchmarks, with a manifest
of every attachment a mail reader should find: its decoded name and the sha256
of its decoded bytes.

usage: bench/corpus.py --out DIR [--messages N] [--seed S] [--dump-payloads FILE]
       bench/corpus.py --big-out DIR --big-bytes N

The mix: Japanese and English subjects and senders (RFC 2047 in ISO-2022-JP,
Shift_JIS and UTF-8), attachment names in the same charsets through RFC 2047
and RFC 2231 (with continuations), base64 and quoted-printable content, HTML
mail with pictures embedded by Content-ID (not attachments), forwarded
messages carrying attachments of their own, LF and CRLF files, read and unread
messages. Same seed, same bytes.

Manifest (DIR/manifest.json): "stats" (messages, attachments, file_bytes,
decoded_bytes_all, decoded_bytes_depth0) and per message "file" (relative to
DIR/Maildir) and "attachments": filename (null when none is given), class
(attachment | inline | inline-cid | rfc822), depth, content_id, sha256 and
alt_sha256 (the same text with the other line breaks).

--big-out writes DIR/Maildir holding one message with one base64 attachment of
--big-bytes pseudo-random bytes, streamed: memory stays small whatever the size.
"""

import argparse
import base64
import email.utils
import hashlib
import json
import pathlib
import quopri
import random
import sys

BASE_TIME = 1714521600

JA_NAMES = ["請求書.pdf", "見積書_2024年5月.xlsx", "議事録（第3回）.docx", "会議資料.pptx",
            "納品書.pdf", "写真 京都.jpg", "売上データ.csv", "契約書（控）.pdf",
            "出張報告書.docx", "新製品カタログ.pdf", "ｶﾀﾛｸﾞ.pdf", "年末調整の書類.zip",
            "スキャン画像0001.png", "打ち合わせメモ.txt"]
ASCII_NAMES = ["invoice_2024-05.pdf", "scan.pdf", "IMG_0001.JPG", "report.xlsx", "data.csv",
               "minutes.docx", "Quarterly Report 2024.xlsx", "archive.tar.gz", "photo.jpeg",
               "notes.txt"]
SUBJECTS = ["請求書送付のご案内", "【重要】会議資料の送付", "見積書（2024年5月分）", "納品書在中",
            "ご確認のお願い", "写真を送ります", "ﾃｽﾄﾒｰﾙ", "Invoice for May", "Meeting minutes",
            "Quarterly report", "Photos from the trip", "Weekly status"]
SENDERS = [("山田 太郎", "yamada@example.jp"), ("佐藤 花子", "sato@example.jp"),
           ("株式会社サンプル 経理部", "keiri@sample.example.jp"), ("ｻﾎﾟｰﾄ窓口", "support@example.jp"),
           ("John Smith", "john@example.com"), ("Alice Wong", "alice@example.org")]
BODY_JA = "いつもお世話になっております。\n資料を添付いたします。\nよろしくお願いいたします。\n"
BODY_EN = "Hello,\n\nPlease find the documents attached.\n\nBest regards,\n"

# Name styles: how a name is written in the part's headers.
STYLES = ["plain", "2047-iso2022", "2047-sjis", "2047-utf8-b", "2047-utf8-q", "2231-utf8",
          "2231-utf8-cont", "2231-sjis", "2231-iso2022"]
CHARSET = {"iso2022": ("ISO-2022-JP", "iso2022_jp"), "sjis": ("Shift_JIS", "shift_jis"),
           "utf8": ("UTF-8", "utf-8")}


def sha(data):
    return hashlib.sha256(data).hexdigest()


def encodable(text, codec):
    try:
        text.encode(codec)
        return True
    except UnicodeEncodeError:
        return False


def encoded_words(text, family, mode="B"):
    """RFC 2047 words of at most a few characters each, folded onto lines."""
    label, codec = CHARSET[family]
    words = []
    for start in range(0, len(text), 8):
        raw = text[start:start + 8].encode(codec)
        if mode == "B":
            payload = base64.b64encode(raw).decode()
        else:
            payload = "".join(chr(b) if chr(b).isascii() and chr(b).isalnum() else f"={b:02X}"
                              for b in raw)
        words.append(f"=?{label}?{mode}?{payload}?=")
    return "\n ".join(words)


def percent(raw):
    keep = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_."
    return "".join(chr(b) if b in keep else f"%{b:02X}" for b in raw)


def name_params(param, name, style):
    """The ';'-led parameter text that carries `name` in `style`."""
    if style == "plain":
        return f';\n {param}="{name}"'
    kind, family = style.split("-", 1)
    if kind == "2047":
        family, _, mode = family.partition("-")
        return f';\n {param}="{encoded_words(name, family, (mode or "b").upper())}"'
    cont = family.endswith("-cont")
    family = family.removesuffix("-cont")
    label, codec = CHARSET[family]
    value = percent(name.encode(codec))
    if not cont:
        return f";\n {param}*={label}''{value}"
    pieces, at = [], 0
    while at < len(value):
        end = min(at + 24, len(value))
        while end < len(value) and value[end - 1] != "%" and "%" in value[end - 2:end]:
            end += 1  # never cut a %XX triplet
        pieces.append(value[at:end])
        at = end
    head = f";\n {param}*0*={label}''{pieces[0]}"
    return head + "".join(f";\n {param}*{i}*={p}" for i, p in enumerate(pieces[1:], 1))


def pick_name(rng, style):
    if style == "plain":
        return rng.choice(ASCII_NAMES)
    codec = CHARSET[style.split("-")[1]][1]
    return rng.choice([n for n in JA_NAMES if encodable(n, codec)])


def draw_size(rng):
    roll = rng.random()
    if roll < 0.80:
        return int(1000 * 50 ** rng.random())
    if roll < 0.97:
        return int(50_000 * 10 ** rng.random())
    return int(500_000 * 6 ** rng.random())


def b64_lines(data):
    text = base64.b64encode(data).decode()
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76))


def mime_type(name):
    ext = name.rsplit(".", 1)[-1].lower()
    return {"pdf": "application/pdf", "jpg": "image/jpeg", "jpeg": "image/jpeg",
            "png": "image/png", "csv": "text/csv", "txt": "text/plain",
            "zip": "application/zip"}.get(ext, "application/octet-stream")


class Message:
    """Builds one message as LF text; entries collect the manifest rows."""

    def __init__(self, rng, depth=0):
        self.rng = rng
        self.depth = depth
        self.entries = []
        self.counter = 0

    def boundary(self):
        self.counter += 1
        return f"=_qmb_{self.depth}_{self.counter}_{self.rng.getrandbits(40):010x}"

    def multipart(self, subtype, parts):
        b = self.boundary()
        body = "".join(f"--{b}\n{p}\n" for p in parts) + f"--{b}--\n"
        return f'Content-Type: multipart/{subtype};\n boundary="{b}"\n\n{body}'

    def text_body(self, ja):
        if ja:
            raw = base64.b64encode(BODY_JA.encode("iso2022_jp")).decode()
            return ("Content-Type: text/plain; charset=ISO-2022-JP\n"
                    f"Content-Transfer-Encoding: base64\n\n{raw}\n")
        return f"Content-Type: text/plain; charset=us-ascii\n\n{BODY_EN}"

    def html_body(self, cids=()):
        images = "".join(f'<img src="cid:{c}">' for c in cids)
        return f"Content-Type: text/html; charset=utf-8\n\n<p>Hello</p>{images}\n"

    def attachment(self, name, style, disposition="attachment", cid=None, kind="attachment"):
        ctype = mime_type(name or "x.bin")
        if ctype.startswith("text/") and self.rng.random() < 0.6:
            return self.qp_attachment(name, style, ctype)
        data = self.rng.randbytes(draw_size(self.rng))
        head = f"Content-Type: {ctype}" + (name_params("name", name, style) if name else "")
        head += f"\nContent-Disposition: {disposition}"
        head += name_params("filename", name, style) if name else ""
        head += f"\nContent-ID: <{cid}>" if cid else ""
        self.entries.append({"filename": name, "name_style": style if name else "none",
                             "class": kind, "depth": self.depth, "content_id": cid,
                             "sha256": sha(data), "size": len(data), "_alt_text": None})
        return f"{head}\nContent-Transfer-Encoding: base64\n\n{b64_lines(data)}\n"

    def qp_attachment(self, name, style, ctype):
        rows = [f"{i},{self.rng.choice(JA_NAMES)},{self.rng.randint(1, 99999)}"
                for i in range(self.rng.randint(5, 400))]
        text = ("id,品名,金額\n" + "\n".join(rows) + "\n").encode("utf-8")
        head = f"Content-Type: {ctype}; charset=utf-8" + name_params("name", name, style)
        head += "\nContent-Disposition: attachment" + name_params("filename", name, style)
        self.entries.append({"filename": name, "name_style": style, "class": "attachment",
                             "depth": self.depth, "content_id": None, "size": len(text),
                             "_alt_text": text})
        encoded = quopri.encodestring(text).decode()
        return f"{head}\nContent-Transfer-Encoding: quoted-printable\n\n{encoded}"

    def random_attachment(self, disposition="attachment"):
        style = self.rng.choice(STYLES)
        kind = "inline" if disposition == "inline" else "attachment"
        return self.attachment(pick_name(self.rng, style), style, disposition, kind=kind)

    def forwarded(self, eol):
        """An attached message of its own with one attachment inside."""
        inner = Message(self.rng, self.depth + 1)
        text = inner.build(eol, allow_forward=False, force_attachment=True)
        entry = {"filename": None, "name_style": "none", "class": "rfc822", "depth": self.depth,
                 "content_id": None, "sha256": sha(text), "size": len(text), "_alt_text": None}
        head = "Content-Type: message/rfc822"
        if self.rng.random() < 0.5:
            entry["filename"], entry["name_style"] = "転送メール.eml", "2231-utf8"
            head += name_params("name", "転送メール.eml", "2231-utf8")
        self.entries.append(entry)
        self.entries.extend(inner.entries)
        # The inner text keeps the file's line breaks; a marker stands for it
        # until the outer message is converted too.
        # The part ends where the inner text does: the line break after it
        # belongs to the boundary line that follows.
        return f"{head}\nContent-Disposition: attachment\n\n\0INNER{len(self.inner)}\0", text

    def headers(self, ja_subject):
        name, address = self.rng.choice(SENDERS)
        subject = self.rng.choice(SUBJECTS)
        family = self.rng.choice(["iso2022", "utf8", "sjis"])
        if not encodable(subject, CHARSET[family][1]):
            family = "utf8"
        if not encodable(name, CHARSET[family][1]):
            family = "utf8"
        enc_subject = encoded_words(subject, family) if not subject.isascii() else subject
        enc_name = encoded_words(name, family) if not name.isascii() else f'"{name}"'
        stamp = BASE_TIME + self.rng.randrange(10**7)
        return (f"From: {enc_name} <{address}>\nTo: me@example.jp\nSubject: {enc_subject}\n"
                f"Date: {email.utils.formatdate(stamp)}\nMessage-ID: <{self.rng.getrandbits(64):x}@example.jp>\n"
                "MIME-Version: 1.0\n")

    def build(self, eol, allow_forward=True, force_attachment=False):
        self.inner = []
        ja = self.rng.random() < 0.7
        roll = self.rng.random()
        if force_attachment:
            roll = 0.5
        if roll < 0.45:  # plain text, no attachment
            body = self.text_body(ja)
        elif roll < 0.75:  # text plus one to three attachments
            parts = [self.text_body(ja)]
            parts += [self.random_attachment() for _ in range(self.rng.choice([1, 1, 1, 2, 3]))]
            body = self.multipart("mixed", parts)
        elif roll < 0.85:  # HTML mail with embedded pictures, sometimes an attachment too
            cids = [f"image{i:03d}.png@{self.rng.getrandbits(32):08x}" for i in range(1, 3)]
            embedded = [self.attachment(f"image{i:03d}.png", "plain", "inline", c, "inline-cid")
                        for i, c in enumerate(cids, 1)]
            alt = self.multipart("alternative", [self.text_body(ja), self.html_body(cids)])
            related = self.multipart("related", [alt] + embedded)
            extra = [self.random_attachment()] if self.rng.random() < 0.5 else []
            body = self.multipart("mixed", [related] + extra) if extra else related
        elif roll < 0.93 or not allow_forward:  # inline picture with a name
            body = self.multipart("mixed", [self.text_body(ja), self.random_attachment("inline")])
        else:  # forwarded message with its attachment
            part, text = self.forwarded(eol)
            self.inner.append(text)
            body = self.multipart("mixed", [self.text_body(ja), part])
        raw = (self.headers(ja) + body).replace("\n", eol).encode("utf-8")
        for i, text in enumerate(self.inner):
            raw = raw.replace(f"\0INNER{i}\0".encode(), text)
        self.finish_texts(eol)
        return raw

    def finish_texts(self, eol):
        for entry in self.entries:
            text = entry.pop("_alt_text", None)
            if text is None:
                entry.setdefault("alt_sha256", [])
                continue
            other = "\r\n" if eol == "\n" else "\n"
            entry["sha256"] = sha(text.replace(b"\n", eol.encode()))
            entry["alt_sha256"] = [sha(text.replace(b"\n", other.encode()))]


def generate(out, count, seed, dump):
    rng = random.Random(seed)
    maildir = out / "Maildir"
    for sub in ("cur", "new", "tmp"):
        (maildir / sub).mkdir(parents=True, exist_ok=True)
    stats = {"messages": count, "attachments": 0, "file_bytes": 0, "decoded_bytes_all": 0,
             "decoded_bytes_depth0": 0}
    messages = []
    payloads = open(dump, "wb") if dump else None
    for i in range(count):
        message = Message(rng)
        raw = message.build("\r\n" if rng.random() < 0.25 else "\n")
        seen = rng.random() < 0.7
        name = f"{BASE_TIME + i * 611}.M{i:06d}P1.qmbench" + (":2,S" if seen else "")
        file = f"{'cur' if seen else 'new'}/{name}"
        (maildir / file).write_bytes(raw)
        stats["file_bytes"] += len(raw)
        for entry in message.entries:
            stats["attachments"] += 1
            stats["decoded_bytes_all"] += entry["size"]
            if entry["depth"] == 0:
                stats["decoded_bytes_depth0"] += entry["size"]
        messages.append({"id": i + 1, "file": file, "seen": seen,
                         "attachments": message.entries})
        if payloads:
            dump_payloads(payloads, raw)
    if payloads:
        payloads.close()
    manifest = {"generator": "bench/corpus.py", "seed": seed, "stats": stats,
                "messages": messages}
    (out / "manifest.json").write_text(json.dumps(manifest, ensure_ascii=False, indent=1),
                                       encoding="utf-8")


def dump_payloads(sink, raw):
    """Appends the decoded bytes of every base64 attachment of `raw`."""
    import email
    import email.policy
    message = email.message_from_bytes(raw, policy=email.policy.compat32)
    for part in message.walk():
        if part.get("Content-Transfer-Encoding", "").lower() == "base64" and \
                part.get_content_maintype() != "text" and not part.is_multipart():
            sink.write(part.get_payload(decode=True))


def generate_big(out, size, seed):
    """One message whose attachment is written in pieces, never whole."""
    maildir = out / "Maildir"
    for sub in ("cur", "new", "tmp"):
        (maildir / sub).mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)
    digest = hashlib.sha256()
    file = f"new/{BASE_TIME}.M1P1.qmbig"
    chunk = 57 * 1024 * 16  # a multiple of 57 bytes: 76-character base64 lines
    with open(maildir / file, "wb") as sink:
        sink.write(b"From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@example.jp>\n"
                   b"Subject: big\nMIME-Version: 1.0\n"
                   b'Content-Type: multipart/mixed; boundary="big-boundary"\n\n'
                   b"--big-boundary\nContent-Type: text/plain\n\nsee attachment\n"
                   b"--big-boundary\nContent-Type: application/octet-stream\n"
                   b"Content-Disposition: attachment; filename*=UTF-8''%E5%A4%A7.bin\n"
                   b"Content-Transfer-Encoding: base64\n\n")
        left = size
        while left > 0:
            data = rng.randbytes(min(chunk, left))
            left -= len(data)
            digest.update(data)
            sink.write(base64.encodebytes(data))
        sink.write(b"--big-boundary--\n")
    manifest = {"generator": "bench/corpus.py", "stats": {"messages": 1, "attachments": 1,
                "decoded_bytes_all": size, "decoded_bytes_depth0": size},
                "messages": [{"id": 1, "file": file, "attachments": [
                    {"filename": "大.bin", "class": "attachment", "depth": 0, "content_id": None,
                     "sha256": digest.hexdigest(), "alt_sha256": [], "size": size}]}]}
    (out / "manifest.json").write_text(json.dumps(manifest, ensure_ascii=False), encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description="benchmark mail corpus")
    parser.add_argument("--out")
    parser.add_argument("--messages", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--dump-payloads")
    parser.add_argument("--big-out")
    parser.add_argument("--big-bytes", type=int, default=100 * 1024 * 1024)
    args = parser.parse_args()
    if args.big_out:
        generate_big(pathlib.Path(args.big_out), args.big_bytes, args.seed)
    elif args.out:
        generate(pathlib.Path(args.out), args.messages, args.seed, args.dump_payloads)
    else:
        sys.exit("give --out DIR or --big-out DIR")


if __name__ == "__main__":
    main()
