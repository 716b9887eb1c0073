"""korvel-pst at a terminal and in a shell: Ctrl-C, the progress bar through
a pseudo-terminal, the plain lines and --quiet otherwise, the installed
manual page and bash completion."""

import json
import os
import pty
import resource
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import cli_support as cli  # noqa: E402

_big = None


def big_mailbox():
    """A mailbox whose save takes a while: many messages with attachments.
    A third of them under a sanitizer, where every save is slower many times
    over and three full saves of the whole would take most of a minute."""
    global _big
    if _big is None:
        repeat = 500 if os.environ.get("KORVEL_SANITIZED") == "1" else 1500
        _big = cli.mkpst({
            "top_of_personal_folders": True,
            "top": {"folders": [{"name": "Inbox", "messages": [{
                "subject": "Message {n}", "body": "text", "repeat": repeat,
                "attachments": [{"filename": "a.bin",
                                 "pattern": {"size": 150000, "seed": 7}}]}]}]},
        }, os.path.join(cli.scratch("big"), "big.pst"))
    return _big


def read_all(fd):
    """Everything a pseudo-terminal's far side writes until it closes."""
    data = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:  # EIO: the far side is closed
            break
        if not chunk:
            break
        data += chunk
    return data


class Interrupt(unittest.TestCase):
    def stop_mid_run(self, arguments):
        """Starts korvel-pst, waits for its first plain progress line past
        the scan, and sends SIGINT while it is held still, so the signal
        lands mid-save however fast the machine is. Returns standard output."""
        with subprocess.Popen([cli.command(), *arguments], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) as process:
            seen = []
            for line in process.stderr:
                seen.append(line)
                if (": saving" in line or ": converting" in line) and "  0%" not in line:
                    process.send_signal(signal.SIGSTOP)
                    process.send_signal(signal.SIGINT)
                    process.send_signal(signal.SIGCONT)
                    break
            rest = process.stderr.read()
            output = process.stdout.read()
        self.assertEqual(process.returncode, 130, "".join(seen) + rest)
        self.assertIn("stopped; ", rest)
        return output

    def test_ctrl_c_mid_save_leaves_nothing(self):
        directory = cli.scratch("interrupt-save")
        self.stop_mid_run(["save", big_mailbox(), os.path.join(directory, "out.pst")])
        self.assertEqual(os.listdir(directory), [])

    def test_ctrl_c_mid_conversion_ends_the_batch_and_leaves_nothing(self):
        out = os.path.join(cli.scratch("interrupt-convert"), "out")
        output = self.stop_mid_run(["convert", "--json", "--to", "eml", big_mailbox(),
                                    cli.ENRON, out])
        self.assertEqual(os.listdir(out), [])
        report = json.loads(output)
        self.assertEqual(report["status"], 130)
        self.assertEqual([(f["file"], f["status"], f["written"]) for f in report["files"]],
                         [(big_mailbox(), 130, False)])


class OutputFailure(unittest.TestCase):
    def test_a_full_disk_ends_the_save_and_leaves_nothing(self):
        # A file-size limit fails the writes as a full disk does, at 1 MB.
        def limited():
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        for form in ("pst", "mbox"):
            directory = cli.scratch("full-" + form)
            out = os.path.join(directory, "out")
            arguments = ["save", big_mailbox(), out] if form == "pst" else \
                ["convert", "--to", form, big_mailbox(), out]
            done = subprocess.run([cli.command(), "--quiet", "--json", *arguments],
                                  capture_output=True, text=True, preexec_fn=limited)
            self.assertEqual(done.returncode, 4, done.stderr)
            self.assertEqual(len(done.stderr.splitlines()), 1)
            self.assertIn("File too large", done.stderr)
            (file,) = json.loads(done.stdout)["files"]
            self.assertEqual((file["status"], file["written"]), (4, False))
            self.assertEqual(os.listdir(directory), [])


class Progress(unittest.TestCase):
    def test_a_bar_on_a_terminal(self):
        out = os.path.join(cli.scratch("progress-tty"), "out.pst")
        program, mailbox = cli.command(), big_mailbox()  # made before the fork
        pid, fd = pty.fork()
        if pid == 0:
            # Standard output to nowhere: only the bar goes to the terminal.
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            os.execv(program, [program, "save", mailbox, out])
        data = read_all(fd)
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, data)
        text = data.decode()
        # Redrawn in place: back to the line's start, the line cleared.
        frames = [frame for frame in text.split("\r\x1b[K") if frame]
        self.assertGreater(len(frames), 3, text)
        self.assertNotIn("\n", "".join(frames))
        saving = [frame for frame in frames if ": saving [" in frame]
        self.assertTrue(saving, text)
        for frame in saving:
            self.assertRegex(frame, r"^big\.pst: saving \[#*\.*\] +\d+%  \d+ items")
        # Past a twentieth of the work the rate and the time left show.
        self.assertTrue(any("/s" in frame and " left" in frame for frame in saving), text)
        self.assertTrue(text.endswith("\r\x1b[K"), "the bar is cleared at the end")

    def test_plain_lines_elsewhere_and_nothing_when_quiet(self):
        directory = cli.scratch("progress-plain")
        done = cli.run("save", big_mailbox(), os.path.join(directory, "out.pst"))
        self.assertEqual(done.returncode, 0)
        self.assertNotIn("\r", done.stderr)
        percents = [int(line.split()[2].rstrip("%")) for line in done.stderr.splitlines()
                    if line.startswith("big.pst: saving")]
        self.assertEqual(percents, sorted(percents))
        self.assertEqual(percents[-1], 100)
        self.assertLessEqual(len(percents), 11)
        done = cli.run("--quiet", "save", "--force", big_mailbox(),
                       os.path.join(directory, "out.pst"))
        self.assertEqual((done.returncode, done.stderr), (0, ""))


class Installed(unittest.TestCase):
    def test_the_manual_page_renders_without_warnings(self):
        page = os.path.join(cli.installed_root(), "share", "man", "man1", "korvel-pst.1")
        done = subprocess.run(["man", "--warnings", "-l", page], capture_output=True,
                              text=True, env=dict(os.environ, MANWIDTH="80"))
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        for heading in ("SYNOPSIS", "COMMANDS", "JSON REPORT", "EXIT STATUS"):
            self.assertIn(heading, done.stdout)
        self.assertTrue(all(len(line) <= 80 for line in done.stdout.splitlines()))

    def test_bash_completes_commands_options_and_formats(self):
        completions = subprocess.run(
            ["pkg-config", "--variable=completionsdir", "bash-completion"],
            capture_output=True, text=True).stdout.strip()
        relative = completions[len("/usr/"):] if completions.startswith("/usr/") else \
            "share/bash-completion/completions"
        script = os.path.join(cli.installed_root(), relative, "korvel-pst")
        self.assertTrue(os.path.isfile(script), script)
        shell = r'''
source /usr/share/bash-completion/bash_completion
source "$1"
complete -p korvel-pst >/dev/null || exit 9
ask() {
    COMP_LINE=$1; COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<< "$COMP_LINE"
    [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
    COMPREPLY=()
    _korvel_pst korvel-pst "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    echo "${COMPREPLY[*]}"
}
ask "korvel-pst c"
ask "korvel-pst convert --to "
ask "korvel-pst -q convert --folder Inbox --no"
ask "korvel-pst check --"
ask "korvel-pst help e"
'''
        done = subprocess.run(["bash", "-c", shell, "bash", script], capture_output=True,
                              text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines(), [
            "check convert", "mbox eml", "--no-recovered", "--quiet --help --json", "extract"])


if __name__ == "__main__":
    unittest.main()
