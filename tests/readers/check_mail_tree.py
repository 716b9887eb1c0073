#!/usr/bin/env python3
"""Checks an mbox output as a mail client meets it when given its "Mail"
directory as local folders: every plain file there is taken for a folder.

    check_mail_tree.py MAIL_DIR [--dates FILE]

Checked: the tree holds only mbox files and ".sbd" directories; every
message in every mbox file has exactly one Date header, and
email.utils.parsedate_to_datetime reads it. With --dates, writes one line per
message: "<folder>\t<Subject>\t<Date as ISO 8601 UTC>\t<X-Original-Date lines
joined by ' | '>", for the caller's own checks.
"""

import argparse
import datetime
import email
import email.policy
import email.utils
import mailbox
import os
import sys

problems = []


def problem(text):
    problems.append(text)
    print("PROBLEM:", text)


def walk(directory, prefix, rows):
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        where = "/".join(prefix + (name,))
        if os.path.isdir(path):
            if not name.endswith(".sbd"):
                problem(f"{where}: a directory that is no .sbd")
            else:
                walk(path, prefix + (name[:-4],), rows)
            continue
        if not os.path.isfile(path):
            problem(f"{where}: neither an mbox file nor a .sbd directory")
            continue
        with open(path, "rb") as f:
            head = f.read(5)
        if head and head != b"From ":
            problem(f"{where}: not an mbox file")
            continue
        box = mailbox.mbox(path, create=False)
        for key in box.iterkeys():
            message = email.message_from_bytes(box.get_bytes(key), policy=email.policy.compat32)
            dates = message.get_all("Date") or []
            subject = str(message.get("Subject", ""))
            if len(dates) != 1:
                problem(f"{where}: {subject!r} has {len(dates)} Date headers")
                continue
            try:
                when = email.utils.parsedate_to_datetime(dates[0])
            except (TypeError, ValueError) as e:
                problem(f"{where}: {subject!r}: Date {dates[0]!r} does not read ({e})")
                continue
            if when.tzinfo is not None:
                when = when.astimezone(datetime.timezone.utc)
            originals = " | ".join(" ".join(v.split()) for v in message.get_all("X-Original-Date") or [])
            rows.append(f"{where}\t{subject}\t{when.isoformat()}\t{originals}")
        box.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mail")
    parser.add_argument("--dates")
    args = parser.parse_args()
    rows = []
    walk(args.mail, (), rows)
    if args.dates:
        with open(args.dates, "w", encoding="utf-8") as f:
            f.write("".join(r + "\n" for r in rows))
    print(f"checked: {len(rows)} messages; {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
