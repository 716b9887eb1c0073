#!/usr/bin/env python3
"""8-bit mailboxes in each Windows code page, end to end.

    check_code_pages.py PROBE MKPST WORKDIR

Writes a 32-bit mailbox (korvel-mkpst, "format": "ansi") with one folder per
code page (1252, 1251, 1250, 932, 936), each holding a message, a contact, an
appointment and a task whose text is in that code page, and a folder of
messages whose code page is missing or unknown. Then checks that the text
comes out right everywhere: the item list and the preview header pages of
each kind (korvel-probe), readpst's export of the source, the saved Unicode copy (read
by pffexport), and
the EML, mbox, vCard and iCalendar conversions (read by Python's email and
mailbox packages and as text). Prints one line per problem; exits 1 when anything differs.
"""

import email
import email.policy
import json
import mailbox
import os
import subprocess
import sys

CODE_PAGES = {
    1252: ("Café crème à la française", "Zoë Ångström", "Voilà: naïve façade €", "Réunion"),
    1251: ("Привет мир", "Иван Петров", "Тело письма", "Входящие"),
    1250: ("Příliš žluťoučký kůň", "Łukasz Wójcik", "Úplně žluťoučký kůň úpěl ďábelské ódy",
           "Doručená pošta"),
    # Shift-JIS second bytes equal to a backslash (ソ, 表).
    932: ("会議の件 ソ表", "山田太郎", "本文です。ソ表示", "受信トレイ"),
    936: ("你好世界", "张伟", "这是正文。", "收件箱"),
}
# 8-bit bytes with no code page, and with one iconv does not know: Windows-1252.
ODD = [("Café missing", None), ("Café unknown", 99999)]

problems = []


def problem(text):
    problems.append(text)
    print("MISMATCH:", text)


def expect(what, actual, wanted):
    if actual != wanted:
        problem(f"{what}: {actual!r}, expected {wanted!r}")


def description():
    folders = []
    for cp, (subject, sender, body, place) in CODE_PAGES.items():
        own = {"tag": "0x3FFD", "type": "PT_LONG", "value": cp}
        folders.append({"name": f"CP{cp}", "messages": [
            {"subject": subject, "body": body, "properties": [
                own, {"tag": "0x0C1A", "type": "PT_UNICODE", "value": sender},
                {"tag": "0x0E07", "type": "PT_LONG", "value": 1}],
             "recipients": [{"type": 1, "name": sender, "email": "to@example.com"}]},
            {"class": "IPM.Contact", "subject": sender, "properties": [
                own, {"tag": "0x3001", "type": "PT_UNICODE", "value": sender},
                {"tag": "0x3A06", "type": "PT_UNICODE", "value": sender.split()[0]}]},
            {"class": "IPM.Appointment", "subject": subject, "body": body, "properties": [
                own,
                {"named": {"set": "PSETID_Appointment", "id": "0x8208"},
                 "type": "PT_UNICODE", "value": place},
                {"named": {"set": "PSETID_Appointment", "id": "0x820D"},
                 "type": "PT_SYSTIME", "value": "2024-05-01T10:00:00Z"},
                {"named": {"set": "PSETID_Appointment", "id": "0x820E"},
                 "type": "PT_SYSTIME", "value": "2024-05-01T11:00:00Z"}]},
            {"class": "IPM.Task", "subject": subject, "properties": [own]},
        ]})
    odd = []
    for subject, cp in ODD:
        props = [{"tag": "0x0037", "type": "PT_STRING8", "hex": subject.encode("cp1252").hex()},
                 {"tag": "0x0C1A", "type": "PT_STRING8", "hex": "52656ee9"},
                 {"tag": "0x1000", "type": "PT_STRING8", "hex": "426f6479e9"}]
        if cp:
            props.append({"tag": "0x3FFD", "type": "PT_LONG", "value": cp})
        odd.append({"properties": props})
    folders.append({"name": "Odd", "messages": odd})
    # Folder names are in the store's code page.
    folders.append({"name": "Réunion été", "messages": [{"subject": "x"}]})
    return {"format": "ansi", "code_page": 1252, "folders": folders}


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout.decode("utf-8")


def rows(probe, pst, folder):
    out = {}
    for line in run(probe, "list", pst, folder).splitlines():
        cells = line.split("\t")
        if cells[0] == "row":
            out[cells[2]] = cells
    return out


def check_list_and_preview(probe, pst, tmp):
    tree = run(probe, "tree", pst)
    if "\tRéunion été" not in tree:
        problem("tree: no folder 'Réunion été'")
    for cp, (subject, sender, body, place) in CODE_PAGES.items():
        r = rows(probe, pst, f"CP{cp}")
        expect(f"CP{cp} list e-mail", r["email"][3:5], [sender, subject])
        expect(f"CP{cp} list contact", r["contact"][3], sender)
        expect(f"CP{cp} list appointment", r["appointment"][3:5], [subject, place])
        expect(f"CP{cp} list task", r["task"][3], subject)
        work = os.path.join(tmp, f"korvel-{os.getuid()}", "Attachments")
        pages = {
            "1": (subject, f"<span style='color:#BD28B8'>{sender}</span>"),
            "2": (f"> {sender.split()[0]}<",),
            "3": (f"> {subject}<", f"> {place}<"),
        }
        for row, texts in pages.items():
            subprocess.run([probe, "preview", pst, f"CP{cp}", row], check=True,
                           capture_output=True, env=dict(os.environ, TMPDIR=tmp))
            with open(os.path.join(work, "header.html"), "rb") as f:
                page = f.read().decode("utf-16-le")
            for text in texts:
                if text not in page:
                    problem(f"CP{cp} preview header page of row {row} lacks {text!r}")
            if row == "1":
                with open(os.path.join(work, "body.txt"), "rb") as f:
                    expect(f"CP{cp} preview body", f.read().decode("utf-8").strip(), body)
    odd = rows(probe, pst, "Odd")
    expect("missing code page in the list", odd["email"][3:5], ["René", "Café missing"])
    listed = [line.split("\t")[4] for line in run(probe, "list", pst, "Odd").splitlines()
              if line.startswith("row")]
    expect("Odd subjects in the list", sorted(listed), sorted(s for s, _ in ODD))


def check_saved_copy(probe, pst, work):
    copy = os.path.join(work, "copy.pst")
    run(probe, "save", pst, copy)
    subprocess.run(["pffexport", "-q", "-t", os.path.join(work, "copy"), copy], check=True,
                   capture_output=True)
    root = os.path.join(work, "copy.export")
    if not os.path.isdir(os.path.join(root, "Réunion été")):
        problem("saved copy: no folder 'Réunion été'")
    for cp, (subject, sender, body, _) in CODE_PAGES.items():
        message = os.path.join(root, f"CP{cp}", "Message00001")
        with open(os.path.join(message, "Message.txt"), encoding="utf-8") as f:
            expect(f"CP{cp} saved body", f.read().strip(), body)
        with open(os.path.join(message, "OutlookHeaders.txt"), "rb") as f:
            headers = f.read().decode("utf-8", "replace")
        if f"Sender name:\t\t\t\t{sender}\n" not in headers:
            problem(f"CP{cp} saved sender name is not {sender!r}")
        # pffexport now and then takes a subject's first two bytes for a
        # prefix marker and leaves them out.
        shown = (subject, subject.encode()[2:].decode("utf-8", "replace"))
        if not any(f"Subject:\t\t\t\t{text}\n" in headers for text in shown):
            problem(f"CP{cp} saved subject is not {subject!r}")
        with open(os.path.join(message, "Recipients.txt"), encoding="utf-8") as f:
            if sender not in f.read():
                problem(f"CP{cp} saved recipient is not {sender!r}")


def check_conversions(probe, pst, work):
    out = os.path.join(work, "eml")
    run(probe, "convert", pst, "eml", out)
    for cp, (subject, sender, body, place) in CODE_PAGES.items():
        # The mail folders under Mail/, their contacts and calendars beside it.
        folder = os.path.join(out, "Mail", f"CP{cp}")
        names = os.listdir(folder)
        expect(f"CP{cp} EML file name", names, [subject + ".eml"])
        with open(os.path.join(folder, names[0]), "rb") as f:
            m = email.message_from_binary_file(f, policy=email.policy.strict)
        expect(f"CP{cp} EML subject", str(m["subject"]), subject)
        expect(f"CP{cp} EML From name", m["from"].addresses[0].display_name, sender)
        expect(f"CP{cp} EML To name", m["to"].addresses[0].display_name, sender)
        expect(f"CP{cp} EML body", m.get_body(("plain",)).get_content().strip(), body)
        pim = os.path.join(out, "Contacts and Calendars", f"CP{cp}")
        with open(pim + ".vcf", encoding="utf-8") as f:
            if f"FN:{sender}" not in f.read().splitlines():
                problem(f"CP{cp} vCard lacks FN:{sender}")
        with open(pim + ".ics", encoding="utf-8") as f:
            ics = f.read().replace("\r\n ", "")
        for line in (f"SUMMARY:{subject}", f"LOCATION:{place}", f"DESCRIPTION:{body}"):
            if line not in ics.replace("\\\\", "\\"):
                problem(f"CP{cp} iCalendar lacks {line!r}")
    # mbox: the same messages behind "From " lines.
    out = os.path.join(work, "mbox")
    run(probe, "convert", pst, "mbox", out)
    for cp, (subject, sender, body, _) in CODE_PAGES.items():
        box = mailbox.mbox(os.path.join(out, "Mail", f"CP{cp}"), create=False)
        got = [(str(m["subject"]), m.get_body(("plain",)).get_content().strip())
               for m in (email.message_from_bytes(raw.as_bytes(), policy=email.policy.strict)
                         for raw in box)]
        expect(f"CP{cp} mbox", got, [(subject, body)])
    out = os.path.join(work, "eml")
    for subject, _ in ODD:
        path = os.path.join(out, "Mail", "Odd", subject + ".eml")
        if not os.path.exists(path):
            problem(f"no EML for {subject!r}")
            continue
        with open(path, "rb") as f:
            m = email.message_from_binary_file(f, policy=email.policy.strict)
        expect(f"{subject} EML body", m.get_body(("plain",)).get_content().strip(), "Bodyé")


def check_readpst(pst, work):
    """readpst decodes each message by its own code page too; its table names
    932 "iso-2022-jp" and 936 "gb2313", so only the single-byte pages are
    compared with it."""
    out = os.path.join(work, "readpst")
    os.makedirs(out, exist_ok=True)
    subprocess.run(["readpst", "-j", "0", "-q", "-e", "-8", "-o", out, pst], check=True,
                   capture_output=True)
    for cp in (1252, 1251, 1250):
        subject, _, body, _ = CODE_PAGES[cp]
        path = os.path.join(out, "Personal Folders", f"CP{cp}", "1.eml")
        if not os.path.exists(path):
            problem(f"readpst did not export the CP{cp} message")
            continue
        with open(path, "rb") as f:
            m = email.message_from_binary_file(f, policy=email.policy.default)
        expect(f"CP{cp} readpst subject", str(m["subject"]), subject)
        expect(f"CP{cp} readpst body", m.get_body(("plain",)).get_content().strip(), body)


def main():
    probe, mkpst, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    desc = os.path.join(work, "code_pages.json")
    with open(desc, "w", encoding="utf-8") as f:
        json.dump(description(), f, ensure_ascii=False)
    pst = os.path.join(work, "code_pages.pst")
    subprocess.run([mkpst, desc, pst], check=True)
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp, exist_ok=True)
    check_list_and_preview(probe, pst, tmp)
    check_saved_copy(probe, pst, work)
    check_conversions(probe, pst, work)
    check_readpst(pst, work)
    print(f"{len(problems)} problems")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
