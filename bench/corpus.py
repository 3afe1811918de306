#!/usr/bin/env python3
"""Writes a realistic Maildir of mixed mail for the benchmarks, with a manifest
of every attachment a mail reader should find: its decoded name and the sha256
of its decoded bytes.

usage: bench/corpus.py --out DIR [--messages N] [--seed S] [--dump-payloads FILE]
       bench/corpus.py --big-out DIR --big-bytes N
       bench/corpus.py --wrapping-seeds DIR

The mix: Japanese and English subjects and senders (RFC 2047 in ISO-2022-JP,
Shift_JIS and UTF-8), attachment names in the same charsets through RFC 2047
and RFC 2231 (with continuations), base64 and quoted-printable content, HTML
mail with pictures embedded by Content-ID (not attachments), forwarded
messages carrying attachments of their own, LF and CRLF files, read and unread
messages. Same seed, same bytes.

Some messages wrap their files: Outlook's rich text (a winmail.dat holding the
files, named in CP932 or by a long Unicode name, now and then inside a message
attached within it, or holding only the rich text), files uuencoded into a
plain-text body (old mailers, some scanners; ISO-2022-JP names), and Macintosh
files as multipart/appledouble. The manifest lists the files inside, marked
"wrapping" (tnef | uuencode | appledouble), never the winmail.dat or the
AppleDouble header part.

Manifest (DIR/manifest.json): "stats" (messages, attachments, file_bytes,
decoded_bytes_all, decoded_bytes_depth0) and per message "file" (relative to
DIR/Maildir) and "attachments": filename (null when none is given), class
(attachment | inline | inline-cid | rfc822), depth, content_id, sha256 and
alt_sha256 (the same text with the other line breaks).

--wrapping-seeds DIR writes one small message of each wrapping, the fuzz seeds
of fuzz/corpus (DIR/attachment_list, and the TNEF streams alone in
DIR/tnef_files).

--big-out writes DIR/Maildir holding one message with one base64 attachment of
--big-bytes pseudo-random bytes, streamed: memory stays small whatever the size.
"""

import argparse
import base64
import binascii
import email.utils
import hashlib
import json
import pathlib
import quopri
import random
import struct
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


# ------------------------------------------------------------------ TNEF
# A TNEF stream: signature and key, then attributes (level, id, length, data,
# checksum). An attachment's own properties are a MAPI property block.

TNEF_SIGNATURE = 0x223E9F78
ATT_VERSION, ATT_CODE_PAGE, ATT_MESSAGE_CLASS = 0x00089006, 0x00069007, 0x00078008
ATT_MESSAGE_PROPS, ATT_RENDERING, ATT_DATA = 0x00069003, 0x00069002, 0x0006800F
ATT_TITLE, ATT_ATTACHMENT_PROPS = 0x00018010, 0x00069005
PROP_SUBJECT_W, PROP_RTF_COMPRESSED = 0x0037001F, 0x10090102
PROP_ATTACH_METHOD, PROP_ATTACH_DATA_OBJ, PROP_LONG_FILENAME_W = 0x37050003, 0x3701000D, 0x3707001F
LEVEL_MESSAGE, LEVEL_ATTACHMENT = 1, 2


def tnef_attribute(level, ident, data):
    return struct.pack("<BII", level, ident, len(data)) + data + \
        struct.pack("<H", sum(data) & 0xFFFF)


def mapi_counted(tag, data):
    """A string, binary or object property: one value, its length, its bytes
    padded to four."""
    return struct.pack("<III", tag, 1, len(data)) + data + b"\0" * (-len(data) % 4)


def mapi_block(properties):
    return struct.pack("<I", len(properties)) + b"".join(properties)


def utf16(text):
    return text.encode("utf-16-le") + b"\0\0"


def tnef_stream(subject, files):
    """What Outlook writes for a rich-text message: version, code page 932,
    class, the message's properties (subject, compressed rich text), then each
    file as (title in CP932, bytes, long Unicode name or None) or, for an
    attached message, ("message", inner stream)."""
    rtf = struct.pack("<II", 16, 32) + b"LZFu" + struct.pack("<I", 0) + b"*" * 4
    out = struct.pack("<IH", TNEF_SIGNATURE, 1)
    out += tnef_attribute(LEVEL_MESSAGE, ATT_VERSION, struct.pack("<I", 0x00010000))
    out += tnef_attribute(LEVEL_MESSAGE, ATT_CODE_PAGE, struct.pack("<II", 932, 0))
    out += tnef_attribute(LEVEL_MESSAGE, ATT_MESSAGE_CLASS, b"IPM.Microsoft Mail.Note\0")
    out += tnef_attribute(LEVEL_MESSAGE, ATT_MESSAGE_PROPS, mapi_block(
        [mapi_counted(PROP_SUBJECT_W, utf16(subject)), mapi_counted(PROP_RTF_COMPRESSED, rtf)]))
    for file in files:
        out += tnef_attribute(LEVEL_ATTACHMENT, ATT_RENDERING,
                              struct.pack("<HIHHI", 1, 0xFFFFFFFF, 0, 0, 0))
        if file[0] == "message":
            props = [struct.pack("<II", PROP_ATTACH_METHOD, 5),
                     mapi_counted(PROP_ATTACH_DATA_OBJ, b"\x07" * 16 + file[1])]
            out += tnef_attribute(LEVEL_ATTACHMENT, ATT_ATTACHMENT_PROPS, mapi_block(props))
            continue
        title, data, long_name = file
        out += tnef_attribute(LEVEL_ATTACHMENT, ATT_TITLE, title.encode("cp932") + b"\0")
        out += tnef_attribute(LEVEL_ATTACHMENT, ATT_DATA, data)
        if long_name:
            out += tnef_attribute(LEVEL_ATTACHMENT, ATT_ATTACHMENT_PROPS,
                                  mapi_block([mapi_counted(PROP_LONG_FILENAME_W, utf16(long_name))]))
    return out


def short_name(index, name):
    """An 8.3 name as Outlook gives a file with a long one."""
    ext = name.rsplit(".", 1)[-1].upper()[:3] if "." in name else "BIN"
    return f"ATTACH~{index}.{ext}"


def uuencoded(data, backtick):
    """Lines of at most 45 bytes each, the zero-length line and "end"."""
    lines = b"".join(binascii.b2a_uu(data[i:i + 45], backtick=backtick)
                     for i in range(0, len(data), 45))
    return lines.decode("ascii") + ("`" if backtick else " ") + "\nend\n"


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

    def wrapped_entry(self, name, data, wrapping, style, depth=None):
        self.entries.append({"filename": name, "name_style": style, "class": "attachment",
                             "depth": self.depth if depth is None else depth, "content_id": None,
                             "sha256": sha(data), "size": len(data), "_alt_text": None,
                             "wrapping": wrapping})

    def tnef_files(self, count, depth):
        files = []
        for i in range(count):
            name = self.rng.choice(JA_NAMES + ASCII_NAMES)
            data = self.rng.randbytes(min(draw_size(self.rng), 400_000))
            if self.rng.random() < 0.4:  # a long name beside an 8.3 title
                files.append((short_name(i + 1, name), data, name))
                style = "tnef-unicode"
            else:
                files.append((name, data, None))
                style = "tnef-cp932"
            self.wrapped_entry(name, data, "tnef", style, depth)
        return files

    def tnef_attachment(self):
        """A winmail.dat: files, rich text only, or a message attached inside."""
        subject = self.rng.choice(SUBJECTS)
        if self.rng.random() < 0.3:  # longer than libytnef takes in a subject
            subject = (subject + "について") * 4
        roll = self.rng.random()
        if roll < 0.15:
            files = []
        elif roll < 0.3:
            inner = tnef_stream("転送", self.tnef_files(1, self.depth + 1))
            files = self.tnef_files(1, self.depth) + [("message", inner)]
        else:
            files = self.tnef_files(self.rng.choice([1, 1, 2, 3]), self.depth)
        stream = tnef_stream(subject, files)
        return ('Content-Type: application/ms-tnef; name="winmail.dat"\n'
                'Content-Disposition: attachment; filename="winmail.dat"\n'
                f"Content-Transfer-Encoding: base64\n\n{b64_lines(stream)}\n")

    def uuencoded_body(self, ja):
        """A plain-text body with files uuencoded into it, in ISO-2022-JP when
        Japanese; now and then the last block is cut off."""
        text = BODY_JA if ja else BODY_EN
        cut = self.rng.random() < 0.1
        count = self.rng.choice([1, 1, 2])
        for i in range(count):
            name = pick_name(self.rng, "2047-iso2022") if ja else self.rng.choice(ASCII_NAMES)
            data = self.rng.randbytes(min(draw_size(self.rng), 200_000))
            block = uuencoded(data, self.rng.random() < 0.5)
            if cut and i == count - 1:
                lines = block.splitlines(keepends=True)[:-2]  # no zero-length line, no "end"
                lines = lines[:max(1, len(lines) // 2)]
                block = "".join(lines)
                data = b"".join(binascii.a2b_uu(line) for line in lines)
            text += f"\nbegin 644 {name}\n{block}"
            self.wrapped_entry(name, data, "uuencode", "uuencode-iso2022" if ja else "uuencode")
        if ja:
            raw = text.encode("iso2022_jp").decode("ascii")
            return f"Content-Type: text/plain; charset=ISO-2022-JP\n\n{raw}"
        return f"Content-Type: text/plain; charset=us-ascii\n\n{text}"

    def appledouble(self):
        """A Macintosh file: the AppleDouble header part, then the data fork."""
        style = self.rng.choice(STYLES)
        name = pick_name(self.rng, style)
        header = ("Content-Type: application/applefile" + name_params("name", name, style) +
                  f"\nContent-Transfer-Encoding: base64\n\n{b64_lines(self.rng.randbytes(58))}\n")
        data_fork = self.attachment(name, style)
        self.entries[-1]["wrapping"] = "appledouble"
        return self.multipart("appledouble", [header, data_fork])

    def wrapped(self, ja):
        roll = self.rng.random()
        if roll < 0.55:
            return self.multipart("mixed", [self.text_body(ja), self.tnef_attachment()])
        if roll < 0.85:
            return self.uuencoded_body(ja)
        return self.multipart("mixed", [self.text_body(ja), self.appledouble()])

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
        if allow_forward and self.rng.random() < 0.06:  # winmail.dat, uuencode, AppleDouble
            body = self.wrapped(ja)
        elif roll < 0.45:  # plain text, no attachment
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


def tnef_property_kinds(data):
    """One more file whose property block has a property of each shape the
    reader checks: a long, a multi-valued long, a named property by name and
    by number, a time, a Unicode name."""
    guid = b"\x11" * 16
    props = [struct.pack("<II", PROP_ATTACH_METHOD, 1),
             struct.pack("<IIII", 0x37051003, 2, 1, 2),
             struct.pack("<I", 0x80000003) + guid + struct.pack("<II", 1, 4) + b"n\0m\0" +
             struct.pack("<I", 9),
             struct.pack("<I", 0x80010003) + guid + struct.pack("<III", 0, 7, 1),
             struct.pack("<IQ", 0x30070040, 0x01D0000000000000),
             mapi_counted(PROP_LONG_FILENAME_W, utf16("種類.bin"))]
    return (tnef_attribute(LEVEL_ATTACHMENT, ATT_RENDERING, struct.pack("<HIHHI", 1, 0, 0, 0, 0)) +
            tnef_attribute(LEVEL_ATTACHMENT, ATT_DATA, data) +
            tnef_attribute(LEVEL_ATTACHMENT, ATT_ATTACHMENT_PROPS, mapi_block(props)))


def write_wrapping_seeds(out):
    """One small message of each wrapping, as fuzz seeds: DIR/attachment_list
    holds the messages, DIR/tnef_files the TNEF streams alone."""
    rng = random.Random(7)

    def small():
        return rng.randbytes(rng.randint(20, 300))

    two = tnef_stream("見積書の送付", [("見積書.xlsx", small(), None), ("report.pdf", small(), None)])
    seeds = {
        "tnef-two-files-cp932": two,
        "tnef-long-unicode-name": tnef_stream(
            "計画書", [("KEIKAK~1.PDF", small(), "令和6年度 事業計画書（最終版）.pdf")]),
        "tnef-rich-text-only": tnef_stream("打ち合わせの件", []),
        "tnef-attached-message": tnef_stream("転送", [("message", two)]),
        "tnef-cut-off": two[:len(two) - 9],
        "tnef-property-kinds": two + tnef_property_kinds(small()),
    }
    streams = out / "tnef_files"
    out = out / "attachment_list"
    for folder in (out, streams):
        folder.mkdir(parents=True, exist_ok=True)
    for name, stream in seeds.items():
        (streams / f"{name}.tnef").write_bytes(stream)
        (out / f"{name}.eml").write_bytes((
            "From: a@example.jp\nSubject: rich text\nMIME-Version: 1.0\n"
            'Content-Type: multipart/mixed; boundary="XX"\n\n'
            "--XX\nContent-Type: text/plain\n\nbody\n"
            '--XX\nContent-Type: application/ms-tnef; name="winmail.dat"\n'
            f"Content-Transfer-Encoding: base64\n\n{b64_lines(stream)}\n--XX--\n").encode())
    body = "添付します。\n\nbegin 644 図面.pdf\n" + uuencoded(small(), True)
    (out / "uuencode-iso2022jp-body.eml").write_bytes(
        b"Subject: drawing\nMIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n\n"
        + body.encode("iso2022_jp"))
    block = uuencoded(rng.randbytes(200), False)
    (out / "uuencode-cut-off.eml").write_bytes(
        ("Subject: scan\n\nbegin 600 scan.bin\n" + block[:len(block) // 2]).encode())
    (out / "appledouble.eml").write_bytes((
        'Subject: mac\nMIME-Version: 1.0\nContent-Type: multipart/appledouble; boundary="AD"\n\n'
        '--AD\nContent-Type: application/applefile; name="report.pdf"\n'
        f"Content-Transfer-Encoding: base64\n\n{b64_lines(rng.randbytes(58))}\n"
        '--AD\nContent-Type: application/pdf; name="report.pdf"\n\n%PDF-1.4 data fork\n'
        "--AD--\n").encode())


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
    parser.add_argument("--wrapping-seeds")
    args = parser.parse_args()
    if args.wrapping_seeds:
        write_wrapping_seeds(pathlib.Path(args.wrapping_seeds))
    elif args.big_out:
        generate_big(pathlib.Path(args.big_out), args.big_bytes, args.seed)
    elif args.out:
        generate(pathlib.Path(args.out), args.messages, args.seed, args.dump_payloads)
    else:
        sys.exit("give --out DIR or --big-out DIR")


if __name__ == "__main__":
    main()
