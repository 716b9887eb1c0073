#!/usr/bin/env python3
"""Reads a converted mailbox (mbox or EML directory) with Python's own mailbox
and email packages and compares it with pffexport's export of the source.

    check_mail.py FORMAT OUT PFFEXPORT_DIR [--readpst DIR] [--strict]
                  [--expect-encapsulated N]

FORMAT is mbox or eml. OUT is the converted directory. PFFEXPORT_DIR is the
"*.export" directory `pffexport -t NAME FILE.pst` made of the same source.

Checked: messages per folder equal the source's mail items (pffexport's
Message*/Meeting* directories); From, To, Cc, Subject and Date equal the
source's (its internet headers when it kept them, else its properties); the
plain text and HTML bodies equal the source's; every attachment decodes to
the bytes pffexport read and keeps its name; embedded messages recursively;
every RTF body that encapsulates HTML comes out with an HTML part. With
--readpst, the folder message counts also equal readpst's (-r layout). With
--strict, the email parser raises on any defect it finds.

Prints one line per problem and a summary; exits 1 when anything differs.
"""

import argparse
import datetime
import email
import email.policy
import email.utils
import mailbox
import os
import re
import sys

problems = []


def problem(text):
    problems.append(text)
    print("MISMATCH:", text)


# ---- the converted side --------------------------------------------------

MBOXRD_QUOTED = re.compile(rb"(?m)^>(>*From )")


def parse_bytes(raw, strict):
    policy = email.policy.default.clone(raise_on_defect=strict)
    return email.message_from_bytes(raw, policy=policy)


def read_mbox_tree(out, strict):
    """{folder path tuple: [messages]} of a local-folders mbox tree."""
    folders = {}

    def walk(directory, prefix):
        for name in sorted(os.listdir(directory)):
            path = os.path.join(directory, name)
            if os.path.isdir(path):
                if not name.endswith(".sbd"):
                    problem(f"unexpected directory {path}")
                continue
            if name.endswith((".vcf", ".ics", ".msf")):
                continue
            messages = []
            box = mailbox.mbox(path, create=False)
            for key in box.iterkeys():
                raw = box.get_bytes(key)
                messages.append(parse_bytes(MBOXRD_QUOTED.sub(rb"\1", raw), strict))
            box.close()
            folders[prefix + (name,)] = messages
            sub = path + ".sbd"
            if os.path.isdir(sub):
                walk(sub, prefix + (name,))

    walk(out, ())
    return folders


def read_eml_tree(out, strict):
    folders = {}

    def walk(directory, prefix):
        messages = []
        for name in sorted(os.listdir(directory)):
            path = os.path.join(directory, name)
            if os.path.isdir(path):
                walk(path, prefix + (name,))
            elif name.endswith(".eml"):
                with open(path, "rb") as f:
                    messages.append(parse_bytes(f.read(), strict))
        if prefix:
            folders[prefix] = messages

    walk(out, ())
    return folders


# ---- the source side (pffexport) -----------------------------------------

def read_fields(path):
    """"Name:<tabs>value" lines of a pffexport text file."""
    fields = {}
    if not os.path.exists(path):
        return fields
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if ":" in line and not line.startswith(" "):
                key, value = line.split(":", 1)
                fields.setdefault(key.strip(), value.strip())
    return fields


def read_recipients(path):
    recipients = []
    if not os.path.exists(path):
        return recipients
    current = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line.strip():
                if current:
                    recipients.append(current)
                current = {}
                continue
            if ":" in line:
                key, value = line.split(":", 1)
                current[key.strip()] = value.strip()
    if current:
        recipients.append(current)
    return recipients


ITEM = re.compile(r"^(Message|Meeting)\d{5}$")


class SourceMessage:
    def __init__(self, directory):
        self.directory = directory
        self.fields = read_fields(os.path.join(directory, "OutlookHeaders.txt"))
        self.recipients = read_recipients(os.path.join(directory, "Recipients.txt"))
        headers = os.path.join(directory, "InternetHeaders.txt")
        self.internet = None
        if os.path.exists(headers):
            with open(headers, "rb") as f:
                raw = f.read().rstrip(b"\r\n") + b"\n\n"
            self.internet = email.message_from_bytes(raw, policy=email.policy.default)
        self.body = {}
        for kind in ("txt", "html", "rtf"):
            path = os.path.join(directory, "Message." + kind)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    self.body[kind] = f.read()
        self.attachments = []  # (name, bytes)
        self.embedded = []  # SourceMessage
        attachments = os.path.join(directory, "Attachments")
        if os.path.isdir(attachments):
            for name in sorted(os.listdir(attachments), key=attachment_order):
                path = os.path.join(attachments, name)
                if os.path.isdir(path):
                    for inner in sorted(os.listdir(path)):
                        if ITEM.match(inner):
                            self.embedded.append(SourceMessage(os.path.join(path, inner)))
                else:
                    with open(path, "rb") as f:
                        self.attachments.append((name.split("_", 1)[1], f.read()))


def attachment_order(name):
    m = re.match(r"^(?:Attachment)?(\d+)", name)
    return int(m.group(1)) if m else 0


def read_source(export):
    folders = {}
    for directory, dirs, files in os.walk(export):
        rel = os.path.relpath(directory, export)
        if rel == ".":
            continue
        parts = tuple(rel.split(os.sep))
        if any(ITEM.match(p) or p == "Attachments" or re.match(r"^[A-Z][A-Za-z]+\d{5}$", p)
               for p in parts):
            continue
        folders[parts] = [SourceMessage(os.path.join(directory, d))
                          for d in sorted(dirs) if ITEM.match(d)]
    return folders


# ---- comparisons ---------------------------------------------------------

def pff_time(text):
    """pffexport's "Aug 23, 2001 22:49:51.000000000 UTC"."""
    m = re.match(r"(\w{3}) (\d\d), (\d{4}) (\d\d):(\d\d):(\d\d)", text or "")
    if not m:
        return None
    month = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov",
             "Dec"].index(m.group(1)) + 1
    return datetime.datetime(int(m.group(3)), month, int(m.group(2)), int(m.group(4)),
                             int(m.group(5)), int(m.group(6)), tzinfo=datetime.timezone.utc)


def addresses(message, header):
    value = message.get(header)
    if value is None:
        return []
    return [(a.display_name, a.addr_spec) for a in value.addresses]


def normal_text(data):
    if isinstance(data, bytes):
        data = data.decode("utf-8", errors="replace")
    data = data.replace("\r\n", "\n").replace("\r", "\n").rstrip("\x00")
    return "\n".join(line.rstrip() for line in data.split("\n")).strip("\n")


def leaf_parts(message):
    """Attachments and inline parts (not the bodies), in tree order."""
    out = []
    for part in message.walk():
        if part.is_multipart() or part.get_content_type() == "message/rfc822":
            continue
        if part.get_content_disposition() in ("attachment", "inline"):
            out.append(part)
    return out


def top_level_rfc822(message):
    out = []

    def walk(part):
        if part.get_content_type() == "message/rfc822":
            out.append(part.get_payload(0))
            return
        if part.is_multipart():
            for p in part.get_payload():
                walk(p)

    walk(message)
    return out


def own_leaf_parts(message):
    """leaf_parts without those of embedded messages."""
    out = []

    def walk(part):
        if part.get_content_type() == "message/rfc822":
            return
        if part.is_multipart():
            for p in part.get_payload():
                walk(p)
        elif part.get_content_disposition() in ("attachment", "inline"):
            out.append(part)

    walk(message)
    return out


def body_part(message, subtype):
    def walk(part):
        if part.get_content_type() == "message/rfc822":
            return None
        if part.is_multipart():
            for p in part.get_payload():
                found = walk(p)
                if found is not None:
                    return found
            return None
        if part.get_content_type() == "text/" + subtype and \
                part.get_content_disposition() != "attachment":
            return part
        return None

    return walk(message)


def compare(where, source, converted, counters, top=True):
    if source.internet is not None:
        # The converted message keeps the headers the item arrived with.
        for header in ("From", "To", "Cc", "Subject", "Date"):
            want = source.internet.get(header)
            got = converted.get(header)
            if header == "Date" and converted.get("X-Original-Date") is not None:
                # A stored date that does not read was replaced by the
                # message's own time; the stored line is kept beside it.
                got = " ".join(str(converted.get("X-Original-Date")).split())
                want = " ".join(next(v for k, v in source.internet.raw_items()
                                     if k.lower() == "date").split())
                when = pff_time(source.fields.get("Client submit time") or
                                source.fields.get("Delivery time"))
                if top and (when is None or converted.get("Date").datetime != when):
                    problem(f"{where}: Date {converted.get('Date')!r} != {when}")
            if (str(want) if want is not None else None) != \
                    (str(got) if got is not None else None):
                problem(f"{where}: {header} {got!r} != source {want!r}")
    else:
        f = source.fields
        subject = f.get("Subject")
        if subject is not None and str(converted.get("Subject", "")) != subject:
            problem(f"{where}: Subject {converted.get('Subject')!r} != {subject!r}")
        name = f.get("Sent representing name") or f.get("Sender name")
        address = f.get("Sent representing email address") or f.get("Sender email address")
        got = addresses(converted, "From")
        if name or address:
            if not got or (name and got[0][0] != name) or (address and got[0][1] != address):
                problem(f"{where}: From {got} != {name!r} <{address}>")
        when = pff_time(f.get("Client submit time") or f.get("Delivery time"))
        date = converted.get("Date")
        if when is not None and top:
            if date is None or date.datetime != when:
                problem(f"{where}: Date {date!r} != {when}")
        for header, kind in (("To", "To"), ("Cc", "CC")):
            want = [(r.get("Display name", ""), r.get("Email address", ""))
                    for r in source.recipients if r.get("Recipient type", "").lower() == kind.lower()]
            if top and addresses(converted, header) != want:
                problem(f"{where}: {header} {addresses(converted, header)} != {want}")

    if "txt" in source.body:
        part = body_part(converted, "plain")
        if part is None:
            problem(f"{where}: no text/plain body")
        elif normal_text(part.get_content()) != normal_text(source.body["txt"]):
            problem(f"{where}: the text body differs")
    if "html" in source.body:
        part = body_part(converted, "html")
        if part is None:
            problem(f"{where}: no text/html body")
        elif normal_text(part.get_content()) != normal_text(
                source.body["html"].decode(part.get_content_charset() or "utf-8", "replace")):
            problem(f"{where}: the HTML body differs")
    if "rtf" in source.body and b"\\fromhtml1" in source.body["rtf"][:400]:
        counters["encapsulated"] += 1
        part = body_part(converted, "html")
        if part is None or not part.get_content().strip():
            problem(f"{where}: the RTF body encapsulates HTML but no HTML came out")

    parts = own_leaf_parts(converted)
    got = sorted((export_name(p.get_filename() or ""), p.get_payload(decode=True) or b"")
                 for p in parts)
    want = sorted(source.attachments)
    if [n for n, _ in got] != [n for n, _ in want]:
        problem(f"{where}: attachment names {[n for n, _ in got]} != {[n for n, _ in want]}")
    else:
        for (name, data), (_, expected) in zip(got, want):
            counters["attachments"] += 1
            if data != expected:
                problem(f"{where}: attachment {name!r}: {len(data)} bytes differ from "
                        f"the source's {len(expected)}")
    inner = top_level_rfc822(converted)
    if len(inner) != len(source.embedded):
        problem(f"{where}: {len(inner)} embedded messages, source has {len(source.embedded)}")
    for i, (s, c) in enumerate(zip(source.embedded, inner)):
        counters["embedded"] += 1
        compare(f"{where}, embedded {i + 1}", s, c, counters, top=False)


# pffexport writes these characters of a name as "_"; names are compared
# after the same replacement (non-ASCII letters stay and must round-trip).
EXPORT_REPLACED = re.compile(r"[!$%&*+:;<>?@\\~|\"/^`]")


def export_name(name):
    return EXPORT_REPLACED.sub("_", name)


def message_key(message):
    return (str(message.get("Subject", "")), str(message.get("Date", "")),
            str(message.get("Message-ID", "")))


def source_key(source):
    if source.internet is not None:
        m = source.internet
        return (str(m.get("Subject", "")), str(m.get("Date", "")), str(m.get("Message-ID", "")))
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("format", choices=["mbox", "eml"])
    parser.add_argument("out")
    parser.add_argument("export")
    parser.add_argument("--readpst")
    parser.add_argument("--strict", action="store_true")
    parser.add_argument("--expect-encapsulated", type=int)
    args = parser.parse_args()

    if args.format == "mbox":
        converted = read_mbox_tree(args.out, args.strict)
    else:
        converted = read_eml_tree(args.out, args.strict)
    source = read_source(args.export)
    counters = {"messages": 0, "attachments": 0, "embedded": 0, "encapsulated": 0}

    for path, messages in sorted(source.items()):
        where = "/".join(path)
        got = converted.get(path)
        if got is None:
            # Outside the user's own folders only folders with mail are made.
            if messages or path[0] == "Top of Personal Folders":
                problem(f"{where}: folder missing")
            continue
        if len(got) != len(messages):
            problem(f"{where}: {len(got)} messages, source has {len(messages)}")
            continue
        if args.format == "eml":
            # File names do not keep the order: pair by subject, date and id,
            # falling back to the subject and the text body.
            def eml_key(m):
                body = body_part(m, "plain")
                return (str(m.get("Subject", "")),
                        normal_text(body.get_content()) if body is not None else "")

            def src_key(s):
                if s.internet is not None:
                    subject = str(s.internet.get("Subject", ""))
                else:
                    subject = s.fields.get("Subject", "")
                text = normal_text(s.body["txt"]) if "txt" in s.body else ""
                return (subject, text)

            got = sorted(got, key=eml_key)
            messages = sorted(messages, key=src_key)
        for i, (s, c) in enumerate(zip(messages, got)):
            counters["messages"] += 1
            compare(f"{where} #{i + 1}", s, c, counters)
    for path in converted:
        if path not in source:
            problem(f"{'/'.join(path)}: folder not in the source")

    if args.readpst:
        # readpst puts the top folder's contents straight into its root
        # directory and writes one "mbox" per folder that has mail.
        readpst = {}
        for directory, dirs, files in os.walk(args.readpst):
            if "mbox" in files:
                rel = os.path.relpath(directory, args.readpst).split(os.sep)
                box = mailbox.mbox(os.path.join(directory, "mbox"), create=False)
                readpst[tuple(rel[1:])] = len(box)
                box.close()
        ours = {}
        for path, messages in converted.items():
            if path and path[0] == "Top of Personal Folders":
                ours[path[1:]] = len(messages)
            elif messages:
                ours[path] = len(messages)
        for path in sorted(set(readpst) | set(ours)):
            if readpst.get(path, 0) != ours.get(path, 0):
                problem(f"{'/'.join(path)}: {ours.get(path, 0)} messages, readpst has "
                        f"{readpst.get(path, 0)}")
        counters["readpst folders"] = len(readpst)

    if args.expect_encapsulated is not None and \
            counters["encapsulated"] != args.expect_encapsulated:
        problem(f"{counters['encapsulated']} HTML-encapsulating RTF bodies, expected "
                f"{args.expect_encapsulated}")
    print("checked: " + ", ".join(f"{k} {v}" for k, v in counters.items()) +
          f"; {len(problems)} mismatches")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
