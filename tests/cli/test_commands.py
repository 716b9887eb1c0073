"""korvel-pst's sub-commands, run as installed, against what korvel-probe
reports and writes for the same mailbox and choices."""

import json
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import cli_support as cli  # noqa: E402


def damaged_mailbox(name):
    """A writer-made mailbox of 20 messages in Inbox whose fifth is cut off
    from its folder, and one more folder to save on its own."""
    directory = cli.scratch(name)
    path = cli.mkpst({
        "top_of_personal_folders": True,
        "top": {"folders": [
            {"name": "Inbox", "messages": [{"subject": "Message {n}", "body": "text",
                                            "repeat": 20}]},
            {"name": "Projects", "folders": [{"name": "2024", "messages": [
                {"subject": "Plan", "attachments": [{"filename": "plan.txt",
                                                      "data": "the plan"}]}]}]},
        ]},
    }, os.path.join(directory, "damaged.pst"))
    cli.orphan_message(path, 4)
    return path


class Check(unittest.TestCase):
    def test_the_sample_is_intact_and_its_counts_are_the_window_lists(self):
        done, report = cli.run_json("check", cli.ENRON)
        self.assertEqual(done.returncode, 0, done.stderr)
        (file,) = report["files"]
        self.assertEqual((file["state"], file["status"], file["unreadable"]), ("intact", 0, []))
        # The folders are the probe's tree below the file, in the same order,
        # and each count is the number of rows a click on it lists.
        names, paths = [], []
        for fields in cli.probe_fields("tree", cli.ENRON):
            if fields[0] == "item" and fields[1] != "0":
                level = int(fields[1])
                names[level - 1:] = [fields[4]]
                paths.append("/".join(names))
        self.assertEqual([f["path"] for f in file["folders"]], paths)
        for folder in file["folders"]:
            rows = [f for f in cli.probe_fields("list", cli.ENRON, folder["path"])
                    if f[0] == "row"]
            self.assertEqual(folder["items"], len(rows), folder["path"])
        self.assertEqual(file["items"], 71)

    def test_a_damaged_mailbox_is_read_and_the_lost_item_named(self):
        path = damaged_mailbox("check-damaged")
        done = cli.run("--quiet", "check", path)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn("damaged but read", done.stdout.splitlines()[0])
        self.assertIn("Top of Personal Folders/Inbox, item 5: cannot be read", done.stdout)
        _, report = cli.run_json("check", path)
        (file,) = report["files"]
        self.assertEqual(file["state"], "damaged")
        self.assertEqual([(u["folder"], u["what"], u["position"]) for u in file["unreadable"]],
                         [("Top of Personal Folders/Inbox", "item", 5)])
        inbox = next(f for f in file["folders"] if f["path"] == "Top of Personal Folders/Inbox")
        self.assertEqual(inbox["items"], 19)

    def test_a_lost_index_is_rebuilt_and_the_damage_reported(self):
        path = os.path.join(cli.scratch("check-rebuilt"), "both-roots.pst")
        self.assertEqual(cli.probe("damage", cli.ENRON, "both-roots", path).returncode, 0)
        done, report = cli.run_json("check", path)
        self.assertEqual(done.returncode, 1, done.stderr)
        (file,) = report["files"]
        self.assertEqual((file["state"], file["items"], file["unreadable"]), ("damaged", 71, []))
        self.assertIn("rebuilt", file["damage"][0])
        # The text report carries the same lines as its last section.
        lines = cli.run("--quiet", "check", path).stdout.splitlines()
        at = lines.index("damage:")
        self.assertEqual([line.strip() for line in lines[at + 1:]], file["damage"])

    def test_several_files_each_reported_and_the_worst_status_returned(self):
        directory = cli.scratch("check-several")
        missing = os.path.join(directory, "missing.pst")
        text = os.path.join(directory, "notes.pst")
        with open(text, "w") as f:
            f.write("not a mailbox at all\n" * 100)
        # A spoiled header root is rebuilt from the pages behind it; a header
        # with nothing behind it cannot be.
        spoiled = os.path.join(directory, "spoiled.pst")
        shutil.copy(damaged_mailbox("check-spoiled"), spoiled)
        cli.spoil_header(spoiled)
        hollow = os.path.join(directory, "hollow.pst")
        with open(spoiled, "rb") as f:
            header = f.read(1024)
        with open(hollow, "wb") as f:
            f.write(header + bytes(64 * 1024))
        done, report = cli.run_json("check", cli.ENRON, missing, text, spoiled, hollow)
        self.assertEqual(done.returncode, 3)
        self.assertEqual(report["status"], 3)
        self.assertEqual([f["state"] for f in report["files"]],
                         ["intact", "unreadable", "unreadable", "damaged", "unreadable"])
        self.assertTrue(report["files"][3]["damage"])
        # One line each, naming the file and the cause.
        self.assertEqual(done.stderr.splitlines(), [
            f"korvel-pst: {missing}: No such file or directory",
            f"korvel-pst: {text}: not a PST file (no PST header)",
            f"korvel-pst: {hollow}: the header or the index cannot be read",
        ])


class Save(unittest.TestCase):
    def assert_same_as_probe(self, source, cli_options, probe_options):
        directory = cli.scratch("save-" + str(abs(hash((source, *cli_options)))))
        ours = os.path.join(directory, "korvel-pst.pst")
        theirs = os.path.join(directory, "probe.pst")
        done, report = cli.run_json("save", *cli_options, source, ours)
        expected = cli.probe_fields("save", source, theirs, *probe_options)
        self.assertEqual(cli.digest(ours), cli.digest(theirs))
        (file,) = report["files"]
        counts = {f[0]: int(f[1]) for f in expected if len(f) == 2 and f[1].isdigit()}
        for key in ("folders", "items", "recovered", "skipped"):
            self.assertEqual(file[key], counts[key], key)
        self.assertEqual([u["text"] for u in file["unreadable"]],
                         [f[1] for f in expected if f[0] == "unreadable" and not f[1].isdigit()])
        self.assertTrue(file["written"])
        self.assertEqual(sorted(os.listdir(directory)), ["korvel-pst.pst", "probe.pst"])
        return done, file

    def test_the_sample_saved_byte_for_byte_as_the_window_saves_it(self):
        done, _ = self.assert_same_as_probe(cli.ENRON, [], [])
        self.assertEqual(done.returncode, 0)

    def test_chosen_folders_without_recovered_items(self):
        self.assert_same_as_probe(
            cli.ENRON, ["--folder", cli.PERSONAL, "--no-recovered"],
            ["--checked", cli.PERSONAL, "--no-recovered"])

    def test_a_damaged_mailbox_saves_the_rest_and_reports_the_item(self):
        path = damaged_mailbox("save-damaged")
        done, file = self.assert_same_as_probe(path, [], [])
        self.assertEqual(done.returncode, 1)
        self.assertEqual(file["recovered"], 1)
        self.assertEqual([(u["folder"], u["what"], u["position"]) for u in file["unreadable"]],
                         [("Top of Personal Folders/Inbox", "item", 5)])
        done, file = self.assert_same_as_probe(
            path, ["--folder", "Top of Personal Folders/Projects"],
            ["--checked", "Top of Personal Folders/Projects"])
        self.assertEqual((done.returncode, file["items"]), (0, 1))

    def test_nothing_is_replaced_without_force(self):
        directory = cli.scratch("save-force")
        out = os.path.join(directory, "out.pst")
        with open(out, "w") as f:
            f.write("keep me")
        done = cli.run("--quiet", "save", cli.ENRON, out)
        self.assertEqual(done.returncode, 4)
        self.assertEqual(done.stderr,
                         f"korvel-pst: {out}: it already exists (--force replaces it)\n")
        with open(out) as f:
            self.assertEqual(f.read(), "keep me")
        done = cli.run("--quiet", "save", "--force", cli.ENRON, out)
        self.assertEqual(done.returncode, 0, done.stderr)
        probe_out = os.path.join(directory, "probe.pst")
        cli.probe("save", cli.ENRON, probe_out)
        self.assertEqual(cli.digest(out), cli.digest(probe_out))
        self.assertEqual(sorted(os.listdir(directory)), ["out.pst", "probe.pst"])

    def test_the_source_is_never_written(self):
        directory = cli.scratch("save-source")
        source = os.path.join(directory, "mailbox.pst")
        shutil.copy(cli.ENRON, source)
        before = cli.digest(source)
        for options in ([], ["--force"]):
            done = cli.run("--quiet", "save", *options, source, source)
            self.assertEqual(done.returncode, 4)
            self.assertIn("it is the mailbox being read", done.stderr)
        link = os.path.join(directory, "link.pst")
        os.symlink(source, link)
        self.assertEqual(cli.run("--quiet", "save", "--force", source, link).returncode, 4)
        self.assertEqual(cli.digest(source), before)
        self.assertEqual(sorted(os.listdir(directory)), ["link.pst", "mailbox.pst"])

    def test_output_and_usage_errors(self):
        directory = cli.scratch("save-errors")
        done = cli.run("--quiet", "save", cli.ENRON, os.path.join(directory, "no", "out.pst"))
        self.assertEqual(done.returncode, 4)
        done = cli.run("--quiet", "save", "--folder", "Top of Personal Folders/Nowhere",
                       cli.ENRON, os.path.join(directory, "out.pst"))
        self.assertEqual(done.returncode, 2)
        self.assertIn("no folder 'Top of Personal Folders/Nowhere'", done.stderr)
        self.assertEqual(os.listdir(directory), [])
        if os.getuid() != 0:  # root writes anywhere
            os.chmod(directory, 0o500)
            done = cli.run("--quiet", "save", cli.ENRON, os.path.join(directory, "out.pst"))
            self.assertEqual(done.returncode, 4)


class Convert(unittest.TestCase):
    def test_each_format_as_the_window_converts_it(self):
        for form in ("mbox", "eml"):
            directory = cli.scratch("convert-" + form)
            ours = os.path.join(directory, "ours")
            theirs = os.path.join(directory, "theirs")
            done, report = cli.run_json("convert", "--to", form, cli.ENRON, ours)
            self.assertEqual(done.returncode, 0, done.stderr)
            expected = cli.probe_fields("convert", cli.ENRON, form, theirs)
            self.assertEqual(cli.tree_digests(ours, cli.mime_boundaries_aside),
                             cli.tree_digests(theirs, cli.mime_boundaries_aside))
            (file,) = report["files"]
            self.assertEqual((file["format"], file["items"], file["skipped"]),
                             (form, int(expected[1][1]), int(expected[3][1])))

    def test_several_files_one_directory_each(self):
        directory = cli.scratch("convert-several")
        damaged = damaged_mailbox("convert-damaged")
        out = os.path.join(directory, "out")
        done, report = cli.run_json("convert", "--to", "mbox", cli.ENRON, damaged, out + "/")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(sorted(os.listdir(out)), ["damaged", "enron"])
        self.assertEqual([(f["target"], f["status"]) for f in report["files"]],
                         [(os.path.join(out, "enron"), 0), (os.path.join(out, "damaged"), 1)])
        # Again: both exist, neither is touched; with --force both are redone.
        before = cli.tree_digests(out)
        done = cli.run("--quiet", "convert", "--to", "mbox", cli.ENRON, damaged, out)
        self.assertEqual(done.returncode, 4)
        self.assertEqual(len(done.stderr.splitlines()), 2)
        self.assertEqual(cli.tree_digests(out), before)
        done = cli.run("--quiet", "convert", "--force", "--to=mbox", cli.ENRON, damaged, out)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(sorted(os.listdir(out)), ["damaged", "enron"])


class ListAndExtract(unittest.TestCase):
    def test_list_prints_the_window_rows(self):
        done = cli.run("--quiet", "list", cli.ENRON, cli.PERSONAL)
        self.assertEqual(done.returncode, 0)
        lines = [line.split("\t") for line in done.stdout.splitlines()]
        self.assertEqual(lines[0][:4], ["NO", "Items", "From: ", "Subjects"])
        expected = [f[1:] for f in cli.probe_fields("list", cli.ENRON, cli.PERSONAL)
                    if f[0] == "row"]
        self.assertEqual(lines[1:], expected)
        paths = cli.run("--quiet", "list", cli.ENRON).stdout.splitlines()
        self.assertIn(cli.PERSONAL, paths)

    def test_extract_writes_what_the_preview_writes(self):
        directory = cli.scratch("extract")
        folder = "Top of Personal Folders/Projects/2024"
        path = damaged_mailbox("extract-mailbox")
        out = os.path.join(directory, "item")
        done = cli.run("--quiet", "extract", path, folder, "1", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        expected = {f[1]: f[3] for f in cli.probe_fields("preview", path, folder, "1")
                    if f[0] == "file"}
        self.assertIn("plan.txt", expected)
        self.assertEqual(cli.tree_digests(out), expected)
        # An existing directory stays unless --force; an unknown row is usage.
        done = cli.run("--quiet", "extract", path, folder, "1", out)
        self.assertEqual(done.returncode, 4)
        done = cli.run("--quiet", "extract", path, folder, "7", out + "2")
        self.assertEqual(done.returncode, 2)
        self.assertFalse(os.path.exists(out + "2"))
        self.assertEqual(cli.run("--quiet", "extract", "--force", path, folder, "1",
                                 out).returncode, 0)
        self.assertEqual(sorted(os.listdir(directory)), ["item"])


class Usage(unittest.TestCase):
    def test_help_version_and_bad_command_lines(self):
        self.assertEqual(cli.run("--version").stdout, "korvel-pst 7.2\n")
        overview = cli.run("--help")
        self.assertEqual(overview.returncode, 0)
        for name in ("check", "list", "save", "convert", "extract"):
            self.assertIn(f"  {name} ", overview.stdout)
            for asked in ([name, "--help"], ["help", name]):
                done = cli.run(*asked)
                self.assertEqual(done.returncode, 0)
                self.assertTrue(done.stdout.startswith(f"usage: korvel-pst {name} "))
        for arguments in ([], ["frob"], ["save", cli.ENRON], ["check", "--to", "mbox", "x"],
                          ["convert", cli.ENRON, "out"], ["convert", "--to", "pdf", "a", "b"],
                          ["list", "a", "b", "c"], ["save", "--folder"]):
            done = cli.run(*arguments)
            self.assertEqual(done.returncode, 2, arguments)
            self.assertEqual(done.stdout, "", arguments)
            self.assertTrue(done.stderr.startswith("korvel-pst: ") or not arguments,
                            arguments)


if __name__ == "__main__":
    unittest.main()
