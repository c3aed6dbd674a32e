"""End-to-end scenarios: Kelvor (the Linux program, or kelvor.exe under Wine) against the
SCADA node simulator and the GSM phone simulator, in real time.

    kelvor_e2e_test.py --kelvor PROGRAM --node kelvor-scada-node --phone kelvor-gsm-sim
                       [--wine tools/wine.sh] [unittest arguments, e.g. a test name]

Exits 77 (skipped) with the reason when the simulators are not built or Wine is missing.
Each scenario's logs stay in a temporary folder that a failure names."""
import argparse
import copy
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest
import zlib

import harness
from harness import Failure, Kelvor, NotifySocket, Phone, Processes, ScadaNode

CONFIG = None

# The modem is reset (after the first pass) and initialised before anything is sent; an SMS
# takes a second or two. Generous limits: the machine may be busy.
INIT = 30
SMS = 60
EXIT = 20

# Alarms of a fixed time, so that the texts can be compared whole.
FEED = 'TAG NODE1 FIC101 A_DESC="Feed flow high" A_CV="   12.5" F_CV=12.5'
TEMP = 'TAG NODE1 TIC200 A_DESC="Reactor temp low" A_CV="41 C" F_CV=41'
LEVEL = 'TAG NODE1 LIC300 A_DESC="Tank level low" A_CV="2.1" F_CV=2.1'
FEED_ALARM = "PUSH NODE1 FIC101 areas=A priority=HIGH status=HI day=7 time=06:05"
TEMP_ALARM = "PUSH NODE1 TIC200 areas=B priority=MEDIUM status=LO day=7 time=06:06"
LEVEL_ALARM = "PUSH NODE1 LIC300 areas=A priority=HIGH status=LO day=7 time=06:07"
BURST_ALARM = "PUSH NODE1 LIC300 areas=C priority=HIGH status=LO day=7 time=06:07"


class Scenario(unittest.TestCase):
    com = 5  # each scenario its own COM port under Wine, so that they can run together

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="kelvor-e2e-")
        if "COM" in self.workdir or "SER" in self.workdir:
            self.skipTest("the temporary folder's name would be read as a Kelvor argument")
        self.processes = Processes()
        self.phones = []
        self.addCleanup(self._clean)
        self.node = ScadaNode(self.processes, CONFIG.node_program, self.workdir)

    def _clean(self):
        self.processes.end_all()
        self.node.close()

    # A failed scenario keeps its logs (node.log, phone.log, kelvor.log) and names them; with
    # KELVOR_E2E_KEEP set, a passing one does too, its name in the file "scenario" beside them
    # (to compare the commands and lines of two builds).
    def run(self, result=None):
        result = result or self.defaultTestResult()
        before = len(result.failures) + len(result.errors)
        self.workdir = None
        super().run(result)
        if self.workdir is None:
            return result
        if len(result.failures) + len(result.errors) > before:
            print(f"\nlogs of {self.id()}: {self.workdir}", file=sys.stderr)
        elif os.environ.get("KELVOR_E2E_KEEP"):
            with open(os.path.join(self.workdir, "scenario"), "w") as named:
                named.write(self.id())
        else:
            shutil.rmtree(self.workdir, ignore_errors=True)
        return result

    def phone(self, *args, stable=False, link=None, control=None):
        """A phone; a `stable` one is reached by the same path as the next stable one, and
        one with a `link` by that name; one with a `control` FIFO takes phone.tell()."""
        link = link or CONFIG.com_link(self.com) or (os.path.join(self.workdir, "phone")
                                                     if stable else None)
        phone = Phone(self.processes, CONFIG.phone_program, self.workdir, args, link=link,
                      control=control)
        self.phones.append(phone)
        return phone

    def messages(self, phone, count=None, timeout=None):
        """The SMS the phone received, waiting for `count` of them."""
        if count is None:
            return phone.messages()
        return phone.wait_messages(count, timeout)

    def kelvor(self, phone, *dests, port=None, config=None, **how):
        args = [port or CONFIG.port_argument(phone, self.com), "SERVICE=+99912345", *dests]
        return Kelvor(self.processes, config or CONFIG, self.workdir, self.node, args, **how)

    def shut_down(self, kelvor, destinations):
        self.node.command("SHUTDOWN")
        self.assertEqual(kelvor.wait_exit(EXIT), destinations)
        kelvor.out.wait_for(r"FIX has been shut down\n(.*\n)*Exiting \.\.\.\.", 5)


class AlarmToPhone(Scenario):
    com = 5

    def test_alarm_reaches_each_phone_as_its_exact_text(self):
        phone = self.phone()
        self.node.command(FEED)
        self.node.command(TEMP)
        self.node.command(FEED_ALARM)
        log = os.path.join(self.workdir, "kelvor-file.log")
        started = time.time()
        # A description-only and a full destination take it; the third wants area B only.
        # The run has a log file, and a heartbeat that starts with the modem.
        kelvor = self.kelvor(phone, "DEST=+15550001,A,H,1", "DEST=+15550002,AB,L,1,F",
                             "DEST=+15550003,B,L,1", "LOG=" + CONFIG.path(log),
                             "HEARTBEAT=+15550099,60")
        messages = self.messages(phone, 3, SMS)
        self.assertCountEqual(messages[:2], [
            ("+15550001", "7/06:05\nFeed flow high\n"),
            ("+15550002", "Fix Alarms\n7/06:05\nFIC101\nHI\nFeed flow high\n=12.5\n"),
        ])
        self.assertEqual(messages[2][0], "+15550099")
        self.assertRegex(messages[2][1], r"^Kelvor started\. Alarms read 1, SMS sent 0, "
                                         r"SMS lost 0, SMS waiting \d+\.$")
        kelvor.out.wait_for(r"Ignoring alm FIC101", 1)
        self.shut_down(kelvor, 3)
        self.assertEqual(len(self.messages(phone)), 3)
        # Without CHARSET= the phone is never asked for a character set or a data coding.
        self.assertNotRegex(kelvor.out.text, r"AT\+CSCS|AT\+CSMP")
        # Without DELIVERY= no status report is asked for, given or acknowledged.
        self.assertNotRegex(kelvor.out.text, r"AT\+CNMI|AT\+CNMA|AT\+CSMS|AT\+CPMS")
        self.assert_log_file_is_the_console(log, kelvor, started, time.time())

    def assert_log_file_is_the_console(self, log, kelvor, started, ended):
        """Every line of the console, in order, after a local time of the run's."""
        with open(log, "rb") as file:
            text = file.read().decode("latin-1")
        self.assertTrue(text.endswith("\r\n"))
        stamp = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) ")
        earliest = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(started - 1))
        latest = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(ended + 1))
        lines = []
        for line in text[:-2].split("\r\n"):
            match = stamp.match(line)
            self.assertTrue(match, f"no time before {line!r}")
            self.assertTrue(earliest <= match.group(1) <= latest, line)
            lines.append(line[match.end():])
        self.assertEqual(lines, kelvor.out.own_lines())
        self.assertEqual(lines[0], "Kelvor Startup")
        # Standard output, a pipe here, ends its lines as the file does (on Windows, not
        # CR CR LF as a text-mode standard output in a file would).
        self.assertNotIn("\r\r\n", kelvor.out.raw)


class Batching(Scenario):
    com = 6

    def test_two_alarms_close_together_go_as_one_sms_and_a_burst_at_the_phones_pace(self):
        phone = self.phone()
        self.node.command(FEED)
        self.node.command(TEMP)
        self.node.command(LEVEL)
        burst = [f"DEST=+155500{n},C,H,0" for n in range(10, 15)]
        kelvor = self.kelvor(phone, "DEST=+15550004,AB,L,5", *burst)
        kelvor.out.wait_for(r"Going to ready", INIT)
        self.node.command(FEED_ALARM)
        self.node.out.wait_for(r"< ALARM 0 \[NODE1 FIC101", 10, what="SCADA node")
        self.node.command(TEMP_ALARM)
        messages = self.messages(phone, 1, SMS)
        self.assertEqual(messages, [("+15550004", "7/06:05\nFeed flow high\n"
                                                  "7/06:06\nReactor temp low\n")])

        # One alarm, five SMS due at once. The modem steps as the phone answers (0.1 s), so
        # each SMS takes about 1.2 s with the pause after it; at one step a pass, a second
        # each while the queue is empty, each took 4 s and the five 16 s or more.
        mark = len(self.node.out.text)
        self.node.command(BURST_ALARM)
        self.node.out.wait_for(r"< ALARM 0 \[NODE1 LIC300", 10, mark, what="SCADA node")
        started = time.monotonic()
        messages = self.messages(phone, 6, SMS)
        took = time.monotonic() - started
        self.assertCountEqual(messages[1:], [(f"+155500{n}", "7/06:07\nTank level low\n")
                                             for n in range(10, 15)])
        self.assertLess(took, 12, "five SMS took as long as at one modem step a pass")
        self.shut_down(kelvor, 6)
        self.assertEqual(len(self.messages(phone)), 6)


class Trip(Scenario):
    """A plant trip: 150 alarms, read in 15 s, for five destinations that take them all. The
    phone answers fast and sends at its own pace (PAUSE=0), yet the queue of 21 overflows:
    each destination's batch then waits and counts what does not fit in its last line, and
    the three high alarms in the flood of low ones are named, each in the place of a low
    one. At every phone the alarms named and counted add up to 150; no loss is reported."""
    com = 27
    NUMBERS = [f"+155500{n}" for n in range(31, 36)]
    HIGH = (40, 90, 140)

    def test_every_alarm_reaches_each_phone_named_or_counted(self):
        phone = self.phone("--delay", "50", "--send-delay", "300")
        for n in range(1, 151):
            self.node.command(f'TAG NODE1 T{n:03} A_DESC="Trip alarm {n:03}" A_CV="{n}" F_CV={n}')
        delays = ["0", "1", "2,F", "3", "5,F"]
        kelvor = self.kelvor(phone, "PAUSE=0", *[f"DEST={number},A,L,{delay}"
                                                 for number, delay in zip(self.NUMBERS, delays)])
        kelvor.out.wait_for(r"Going to ready", INIT)
        for n in range(1, 151):
            priority = "HIGH" if n in self.HIGH else "LOW"
            self.node.command(f"PUSH NODE1 T{n:03} areas=A priority={priority} status=HI day=7 "
                              f"time=06:{n // 3:02}")
        deadline = time.monotonic() + 150
        while any(len(self.taken(phone, number)) < 150 for number in self.NUMBERS):
            self.assertLess(time.monotonic(), deadline, [
                (number, len(self.taken(phone, number))) for number in self.NUMBERS])
            time.sleep(0.5)
        self.shut_down(kelvor, 5)

        for number in self.NUMBERS:
            taken = self.taken(phone, number)
            self.assertEqual(len(taken), 150, number)
            self.assertEqual(taken.count(None), 150 - len(set(taken) - {None}), number)
            self.assertLessEqual(set(self.HIGH), set(taken), number)
        self.assertTrue(all(len(text) <= 159 for _, text in self.messages(phone)))
        self.assertGreater(kelvor.out.count(r"Counting alm T\d+"), 0, "the queue overflowed")
        self.assertEqual(kelvor.out.count(r" lost|dropped after|Shutdown discards"), 0)

    def taken(self, phone, number):
        """The alarms the SMS to `number` took: the number of each one named, None for each
        one counted."""
        taken = []
        for to, text in self.messages(phone):
            if to != number:
                continue
            taken += [int(n) for n in re.findall(r"Trip alarm (\d{3})", text)]
            counted = re.search(r"^\+(\d+) more alarms? \(", text, re.M)
            taken += [None] * int(counted.group(1)) if counted else []
        return taken


class RefusedSms(Scenario):
    com = 7

    def test_a_port_without_mode_answers_a_cms_error_by_a_reset_and_ctrl_c_ends_it(self):
        # The port without a mode, as for an infrared link: it keeps its own line settings,
        # and its reads still return at once (on Windows a fresh port's own time-outs made
        # a read wait for a full buffer, for ever).
        phone = self.phone("--fail-sends", "1")
        self.node.command(FEED)
        self.node.command(FEED_ALARM)
        kelvor = self.kelvor(phone, "DEST=+15550005,A,H,0",
                             port=CONFIG.port_argument(phone, self.com, mode=None))
        error = kelvor.out.wait_for(r"\+CMS ERROR: 500", SMS)
        reset = kelvor.out.wait_for(r"Timeout\nTX>>ATZ", 20, error.end())
        messages = self.messages(phone, 1, SMS)
        self.assertEqual(messages, [("+15550005", "7/06:05\nFeed flow high\n")])
        sent = kelvor.out.wait_for(r"Successfull send", 10, reset.end())
        # Ctrl-C (the console's Ctrl-C event under Wine) ends it as Q does.
        os.kill(kelvor.proc.pid, signal.SIGINT)
        self.assertEqual(kelvor.wait_exit(EXIT), 1)
        kelvor.out.wait_for(r"Quitting\.\.\.r\nExiting \.\.\.\.", 1, sent.end())
        self.assertEqual(len(self.messages(phone)), 1)


class PortComesBack(Scenario):
    """A phone unplugged and plugged in again: its device goes, and some seconds later a new
    one appears behind the same name."""
    com = 11

    def test_an_alarm_raised_while_the_phone_is_away_reaches_the_phone_that_comes_back(self):
        link = CONFIG.device_link(self.com, self.workdir)
        first = self.phone(link=link)
        self.node.command(FEED)
        kelvor = self.kelvor(first, "DEST=+15550012,A,H,0",
                             port=CONFIG.link_argument(link, self.com))
        ready = kelvor.out.wait_for(r"Going to ready", INIT)
        first.stop()
        self.node.command(FEED_ALARM)
        # The command for the alarm's SMS fails on the dead port; the reset after it finds
        # no device yet.
        away = kelvor.out.wait_for(r"Port (\S+) failed - reopening\nCan't get a handle to \1 "
                                   r"driver\n", 2 * INIT, ready.end())
        second = self.phone(link=link)
        self.assertEqual(self.messages(second, 1, SMS),
                         [("+15550012", "7/06:05\nFeed flow high\n")])
        kelvor.out.wait_for(r"Port \S+ reopened\n", 1, away.end())
        self.assertEqual(self.messages(first), [])
        self.assertLessEqual(kelvor.out.count(r"failed - reopening"), kelvor.out.count(r"Timeout"))
        self.shut_down(kelvor, 1)


class NodeEnds(Scenario):
    """The run ends with the SCADA system, or as an operator ends it; gathering batches are
    dropped, not sent, and the run says so."""

    def end_run(self, ending, message, config=None):
        """`ending`: a command to the node, or what is done to the running Kelvor."""
        path = os.path.join(self.workdir, "destinations.csv")
        with open(path, "wb") as file:
            file.write(b"Name,Number,Areas,Priority,Delay\r\n"
                       b"Shift,+15550006,A,H,30\r\n"
                       b"Manager,+15550007,AB,M,30,F\r\n")
        self.node.command(FEED)
        phone = self.phone()
        kelvor = self.kelvor(phone, "DEST=+15550008,A,H,30", CONFIG.file_argument(path),
                             config=config)
        kelvor.out.wait_for(r"New dest = \+15550007", INIT)
        self.node.command(FEED_ALARM)
        kelvor.out.wait_for(r"(Buffering alm.*\n(.*\n)*){3}", 10)
        if callable(ending):
            ending(kelvor)
        else:
            self.node.command(ending)
        self.assertEqual(kelvor.wait_exit(EXIT), 3)  # the number of destinations
        kelvor.out.wait_for(message + r"(.*\n)*Shutdown discards SMS queued: 0, "
                            r"alarm batches pending: 3\r?\nExiting \.\.\.\.", 1)
        self.assertEqual(self.messages(phone), [])


class NodeShutDown(NodeEnds):
    com = 8

    def test_shutdown_ends_the_run(self):
        self.end_run("SHUTDOWN", "FIX has been shut down")


class ScadaStops(NodeEnds):
    com = 10

    def test_scada_stopping_ends_the_run(self):
        self.end_run("SCADA DOWN", "")


class Interrupted(NodeEnds):
    com = 13

    def test_ctrl_c_ends_the_run_as_q_does(self):
        # SIGINT; under Wine, kelvor.exe gets it as the console's Ctrl-C event, which a
        # service wrapper also sends to stop a console program.
        self.end_run(lambda kelvor: os.kill(kelvor.proc.pid, signal.SIGINT),
                     r"Quitting\.\.\.r")


class InterruptedInNewGroup(NodeEnds):
    """Under Wine, started in a new process group as `start /b` and some service wrappers
    start it, which inherits "ignore Ctrl-C"."""
    com = 29

    def setUp(self):
        super().setUp()
        if not CONFIG.new_group:
            self.skipTest("process groups are a Windows matter")

    def test_ctrl_c_ends_the_run_as_q_does(self):
        exe = CONFIG.command[-1]
        grouped = copy.copy(CONFIG)
        grouped.command = [CONFIG.wine, CONFIG.new_group, CONFIG.path(exe)]
        self.end_run(lambda kelvor: os.kill(self.started_by_group(), signal.SIGINT),
                     r"Quitting\.\.\.r", grouped)

    def started_by_group(self):
        """The process of kelvor.exe that kelvor-new-group started for this scenario."""
        mark = os.path.basename(self.workdir).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as file:
                    line = file.read()
            except OSError:
                continue
            if mark in line and b"kelvor.exe" in line and b"kelvor-new-group" not in line:
                self.addCleanup(self.end_left_over, int(pid))  # Wine made it no child of ours
                return int(pid)
        raise Failure("kelvor.exe started by kelvor-new-group not found")

    def end_left_over(self, pid):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


class SpoolRuns(Scenario):
    """Runs with a spool, killed with alarms on their way, and the next run with the same
    arguments."""
    TEXTS = [("+15550012", "7/06:05\nFeed flow high\n"),
             ("+15550012", "7/06:07\nTank level low\n"),
             ("+15550013", "7/06:06\nReactor temp low\n")]

    def setUp(self):
        super().setUp()
        self.spool = os.path.join(self.workdir, "kelvor.spool")
        self.args = ["DEST=+15550012,A,H,0", "DEST=+15550013,B,L,15",
                     CONFIG.spool_argument(self.spool)]

    def killed_run(self):
        kelvor, phone = self.run_with_texts_spooled()
        self.kill(kelvor, phone)

    def run_with_texts_spooled(self):
        for command in (FEED, TEMP, LEVEL, FEED_ALARM, TEMP_ALARM, LEVEL_ALARM):
            self.node.command(command)
        phone = self.phone("--silent", stable=True)
        kelvor = self.kelvor(phone, *self.args, name="killed")
        # The two texts of the delay-0 destination queued as SMS, the other one's pending.
        wanted = sorted([("S", self.TEXTS[0][1]), ("S", self.TEXTS[1][1]),
                         ("B", self.TEXTS[2][1])])
        deadline = time.monotonic() + INIT
        while sorted(self.spooled()) != wanted:
            if time.monotonic() > deadline:
                raise Failure(f"the spool lacks the three texts: {self.read_spool()!r}")
            time.sleep(0.1)
        return kelvor, phone

    def spooled(self):
        """The spool's records, (kind, text) each: after the 16-byte header, a kind, the
        sendings, a tick, the two lengths, the number and the text, and a CRC; "E" ends. A
        "B" of sendings 1 has its alarms after the text: a count n, then 4n + 15 bytes; in a
        file of version 2 or 3 an "S" has its id (4 bytes) after the text."""
        data, at, records = self.read_spool(), 16, []
        ids = data[:16] in (b"KELVOR SPOOL 2\r\n", b"KELVOR SPOOL 3\r\n")
        while at + 8 <= len(data) and data[at:at + 1] != b"E":
            kind, sendings, number, text = chr(data[at]), data[at + 1], data[at + 6], data[at + 7]
            body = data[at + 8 + number:at + 8 + number + text]
            records.append((kind, body.decode("latin-1")))
            at += 8 + number + text
            if kind == "B" and sendings == 1 and at < len(data):
                at += 1 + 4 * data[at] + 15
            if kind == "S" and ids:
                at += 4
            at += 4
        return records

    def kill(self, kelvor, phone):
        kelvor.proc.kill()
        kelvor.proc.wait()
        phone.proc.terminate()
        phone.proc.wait()

    def read_spool(self):
        try:
            with open(self.spool, "rb") as file:
                return file.read()
        except FileNotFoundError:
            return b""

    def next_run(self, count, *args):
        phone = self.phone(stable=True)
        kelvor = self.kelvor(phone, *(args or self.args))
        self.assertEqual(len(self.messages(phone, count, SMS)), count)
        return phone, kelvor


class Spool(SpoolRuns):
    """The next run sends what a killed one had on its way: two SMS in the queue and a
    batch at its destination, for a silent phone."""
    com = 12

    def test_a_killed_run_leaves_its_alarms_to_the_next(self):
        self.killed_run()
        phone, kelvor = self.next_run(3)
        kelvor.out.wait_for(r"Spool restores SMS queued: 2, alarm batches pending: 1", 1)
        self.shut_down(kelvor, 2)
        self.assertCountEqual(self.messages(phone), self.TEXTS)

    def test_a_spool_cut_in_its_last_record_gives_back_the_whole_ones(self):
        self.killed_run()
        whole = self.read_spool()
        cut = whole[:whole.index(b"Reactor temp low")]
        with open(self.spool, "wb") as file:
            file.write(cut)
        phone, kelvor = self.next_run(2)
        kelvor.out.wait_for(r"Spool restores SMS queued: 2, alarm batches pending: 0.*\n"
                            r".*damaged at byte \d+: .* kept as .*kelvor\.spool\.bad", 1)
        self.shut_down(kelvor, 2)
        self.assertEqual(self.messages(phone), self.TEXTS[:2])
        with open(self.spool + ".bad", "rb") as file:
            self.assertEqual(file.read(), cut)


class Held(SpoolRuns):
    """Under Wine, another program holds a file of Kelvor's open without delete sharing, as a
    virus scanner, a backup agent or `type` does; only Windows keeps such a file from being
    renamed."""
    com = 28

    def setUp(self):
        super().setUp()
        if not CONFIG.holder:
            self.skipTest("a file held open stops its rename on Windows alone")

    def hold(self, path):
        """Holds `path` until the returned process's standard input is closed."""
        argv = [CONFIG.wine, CONFIG.holder, CONFIG.path(path)]
        holder, out = harness._piped(self.processes, argv, os.path.join(self.workdir, "holder.log"),
                                     stdin=subprocess.PIPE)
        out.wait_for(r"held", INIT, what="holder")
        return holder

    def let_go(self, holder):
        holder.stdin.close()
        holder.wait(EXIT)

    def test_a_held_spool_is_written_once_let_go_and_a_held_log_kept_within_twice_its_size(self):
        # The phone is silent: once the alarm is queued nothing changes, and only the spool's
        # retry can write it.
        self.node.command(FEED)
        phone = self.phone("--silent", stable=True)
        log = os.path.join(self.workdir, "kelvor-file.log")
        kelvor = self.kelvor(phone, *self.args, "LOG=" + CONFIG.path(log) + ",1", name="held")
        kelvor.out.wait_for(r"Spool .*: no file yet", INIT)
        spool_holder, log_holder = self.hold(self.spool), self.hold(log)
        self.node.command(FEED_ALARM)
        kelvor.out.wait_for(r"kelvor\.spool cannot be written - going on from memory", 10)
        for minute in range(10, 40):  # alarms of no destination's areas: lines, no SMS
            self.node.command("PUSH NODE1 FIC101 areas=P priority=HIGH status=HI day=7 "
                              f"time=06:{minute}")
        kelvor.out.wait_for(r"kelvor-file\.log cannot be renamed for its rotation", INIT)
        kelvor.out.wait_for(r"kelvor-file\.log not rotated and at twice its size", INIT)
        self.assertLessEqual(os.path.getsize(log), 2048)
        self.let_go(log_holder)
        self.let_go(spool_holder)
        kelvor.out.wait_for(r"kelvor\.spool written again", 10)
        self.assertEqual(self.spooled(), [("S", self.TEXTS[0][1])])
        self.kill(kelvor, phone)
        phone, kelvor = self.next_run(1)
        self.shut_down(kelvor, 2)
        self.assertEqual(self.messages(phone), [self.TEXTS[0]])


class SpoolDurable(SpoolRuns):
    """One run at a time has the spool; it is on the disk before the loop pauses; a
    heartbeat is not kept in it."""
    com = 14

    def test_a_second_run_on_the_same_spool_leaves_it_to_the_first(self):
        # Started while the first runs, it goes on without the spool: it sends none of the
        # first's SMS and writes nothing over its file.
        first, first_phone = self.run_with_texts_spooled()
        other_com = 15
        phone = self.phone(link=CONFIG.com_link(other_com))
        second = self.kelvor(phone, *self.args, port=CONFIG.port_argument(phone, other_com),
                             name="second")
        second.out.wait_for(r"Spool .*kelvor\.spool in use by another run - SPOOL ignored", INIT)
        ready = second.out.wait_for(r"Going to ready", INIT)
        second.out.wait_for(r"TX>>AT\+CSQ", INIT, ready.end())  # its queue is empty
        second.proc.kill()
        self.assertEqual(self.messages(phone), [])
        self.kill(first, first_phone)
        phone, kelvor = self.next_run(3)
        self.shut_down(kelvor, 2)
        self.assertCountEqual(self.messages(phone), self.TEXTS)

    def test_a_run_killed_just_after_it_took_an_alarm_leaves_it_to_the_next(self):
        # It is killed in the pause after the alarm, before the batch is due.
        self.node.command(FEED)
        phone = self.phone(stable=True)
        kelvor = self.kelvor(phone, *self.args, name="killed")
        kelvor.out.wait_for(r"Spool .*: no file yet", INIT)
        self.node.command(FEED_ALARM)
        kelvor.out.wait_for(r"Buffering alm FIC101", 10)
        time.sleep(0.06)
        self.kill(kelvor, phone)
        phone, kelvor = self.next_run(1)
        self.shut_down(kelvor, 2)
        self.assertEqual(self.messages(phone), [self.TEXTS[0]])

    def test_a_heartbeat_left_in_the_queue_is_not_sent_after_the_restart(self):
        # The start-up heartbeat is refused, and the run killed while it waits to go again.
        args = [*self.args, "HEARTBEAT=+15550099,60"]
        phone = self.phone("--fail-sends", "1", stable=True)
        kelvor = self.kelvor(phone, *args, name="killed")
        kelvor.out.wait_for(r"\+CMS ERROR: 500", SMS)
        self.kill(kelvor, phone)
        phone, kelvor = self.next_run(1, *args)
        ready = kelvor.out.wait_for(r"Going to ready", 1)
        kelvor.out.wait_for(r"TX>>AT\+CSQ", INIT, ready.end())  # its queue is empty
        self.shut_down(kelvor, 2)
        [(number, text)] = self.messages(phone)
        self.assertEqual(number, "+15550099")
        self.assertRegex(text, r"^Kelvor started\. Alarms read 0, SMS sent 0, SMS lost 0")


class SimPin(Scenario):
    """A phone whose SIM wants its PIN, as after a power cut, and is busy for a while after
    power-on and after the PIN."""
    com = 16

    def test_without_pin_a_line_says_so_and_with_it_the_alarm_goes_through(self):
        phone = self.phone("--pin", "2468", "--sim-busy", "2")
        self.node.command(FEED)
        without = self.kelvor(phone, "DEST=+15550014,A,H,0", name="without-pin")
        without.out.wait_for(r"\+CME ERROR: 11 means SIM PIN wanted - give the SIM's PIN as "
                             r"PIN=nnnn", INIT)
        os.kill(without.proc.pid, signal.SIGINT)
        self.assertEqual(without.wait_exit(EXIT), 1)

        self.node.command(FEED_ALARM)
        log = os.path.join(self.workdir, "kelvor-file.log")
        kelvor = self.kelvor(phone, "DEST=+15550014,A,H,0", "PIN=2468",
                             "LOG=" + CONFIG.path(log))
        self.assertEqual(self.messages(phone, 1, SMS), [("+15550014", "7/06:05\nFeed flow high\n")])
        self.assertEqual(phone.out.count(r"PIN tried"), 1)
        self.assertEqual(phone.out.count(r"PIN tried right"), 1)
        kelvor.out.wait_for(r'TX>>AT\+CPIN="\*\*\*\*"\n', 1)
        self.shut_down(kelvor, 1)
        self.assertNotIn("2468", without.out.text + kelvor.out.text)
        with open(log, "rb") as file:
            self.assertNotIn(b"2468", file.read())


class WrongPin(Scenario):
    """Three wrong PINs block a SIM for good: one it refuses is never sent again."""
    com = 17

    def test_a_refused_pin_is_sent_once_across_resets(self):
        phone = self.phone("--pin", "2468")
        kelvor = self.kelvor(phone, "DEST=+15550015,A,H,0", "PIN=1357")
        refused = kelvor.out.wait_for(r"PIN refused by the SIM - not sent again in this run",
                                      INIT)
        # Two resets later the SIM, asked again, still wants a PIN, and gets none.
        kelvor.out.wait_for(r"Timeout\n(.*\n)*?Timeout\n(.*\n)*?Going to text\n", 2 * INIT,
                            refused.end())
        self.assertEqual(phone.out.count(r"PIN tried"), 1)
        self.assertEqual(phone.out.count(r"PIN tried wrong"), 1)
        self.shut_down(kelvor, 1)
        self.assertNotIn("1357", kelvor.out.text)


class OffNetwork(Scenario):
    """A phone that has lost the network: the alarm's SMS waits, and goes when it is back."""
    com = 18

    def test_an_sms_waits_for_the_network_and_goes_when_it_returns(self):
        phone = self.phone("--network", "2", control=os.path.join(self.workdir, "control"))
        self.node.command(FEED)
        self.node.command(FEED_ALARM)
        # Under a service manager (Linux) its status says where the phone is.
        notify = None if CONFIG.wine else NotifySocket(os.path.join(self.workdir, "notify"))
        if notify:
            self.addCleanup(notify.close)
        kelvor = self.kelvor(phone, "DEST=+15550016,A,H,0",
                             env_extra={"NOTIFY_SOCKET": notify.name} if notify else None)
        if notify:  # read as they come: a full socket drops what is sent to it
            notify.until("STATUS=Signal 48 %, SMS waiting 1, last error 515, network searching",
                         SMS)
        waits = kelvor.out.wait_for(r"\+CMS ERROR: 331 means no network service - .*\n(.*\n)*?"
                                    r"SMS to \+15550016 waits for the network - not counted as "
                                    r"a sending\n", SMS)
        kelvor.out.wait_for(r"Network registration: searching\n", 30, waits.end())
        phone.tell("NETWORK 1")
        self.assertEqual(self.messages(phone, 1, SMS),
                         [("+15550016", "7/06:05\nFeed flow high\n")])
        kelvor.out.wait_for(r"Network registration: registered\n", 1, waits.end())
        self.assertEqual(phone.out.count(r"SMS refused to=\+15550016 code=331"), 1)
        self.shut_down(kelvor, 1)


class Replies(Scenario):
    """The phone answers back: status by SMS for a number Kelvor knows and nothing for a
    stranger; an alarm SMS answered within its minute is acknowledged, and the answer
    confirmed; one nobody answers goes to the next number after its minute. Every SMS read
    is deleted from the SIM."""
    com = 19

    def test_status_acknowledgement_and_escalation_by_sms(self):
        phone = self.phone(control=os.path.join(self.workdir, "control"))
        self.node.command(FEED)
        self.node.command(LEVEL)
        kelvor = self.kelvor(phone, "DEST=+15550017,A,H,0", "ESCALATE=+15550017,1,+15550018")
        kelvor.out.wait_for(r"Going to ready", INIT)

        phone.receive("+15559999", "S")
        phone.receive("+1 555 0018", " status ")
        status = self.messages(phone, 1, SMS)[0]
        self.assertEqual(status[0], "+15550018")
        self.assertRegex(status[1], r"^Kelvor status\. Signal \d+%, SMS waiting \d+, last error "
                                    r"0, alarms read 0 since start\.$")
        kelvor.out.wait_for(r"SMS from unknown number \+15559999 ignored: S\n", 10)

        self.node.command(FEED_ALARM)
        self.assertEqual(self.messages(phone, 2, SMS)[1],
                         ("+15550017", "7/06:05\nFeed flow high\n"))
        phone.receive("+15550017", "On my way")
        self.assertEqual(self.messages(phone, 3, SMS)[2],
                         ("+15550017", "Kelvor: 1 alarm SMS acknowledged"))
        kelvor.out.wait_for(r"SMS from \+15550017 acknowledges 1 alarm SMS: On my way\n", 1)

        self.node.command(LEVEL_ALARM)
        sent = self.messages(phone, 4, SMS)[3]
        self.assertEqual(sent, ("+15550017", "7/06:07\nTank level low\n"))
        confirmed = time.monotonic()
        escalated = self.messages(phone, 5, 60 + SMS)[4]
        self.assertGreater(time.monotonic() - confirmed, 58)
        self.assertEqual(escalated, ("+15550018", "No answer from +15550017 in 1 min\n"
                                                  "7/06:07\nTank level low\n"))
        self.shut_down(kelvor, 1)
        self.assertEqual(len(self.messages(phone)), 5)
        self.assertEqual(phone.out.count(r"SMS in index="), 3)
        self.assertEqual(phone.out.count(r"SMS in deleted index="), 3)


class Delivery(Scenario):
    """DELIVERY=: every SMS asks for a report; two reports that come in the other order, across
    the message reference's wrap, each find their own SMS, pushed and acknowledged."""
    com = 37

    def test_reports_in_the_other_order_each_find_their_sms(self):
        phone = self.phone("--first-reference", "255", "--cnma-needed",
                           "--report-delay-for", "+15550050,10", "--report-delay-for",
                           "+15550051,1")
        self.node.command(FEED)
        kelvor = self.kelvor(phone, "DEST=+15550050,A,H,0", "DEST=+15550051,A,H,0",
                             "DELIVERY=60")
        kelvor.out.wait_for(r"TX>>AT\+CNMI=2,0,0,1\n(.*\n)*TX>>AT\+CSMP=49,11,0,0\n", INIT)
        self.node.command(FEED_ALARM)
        self.messages(phone, 2, SMS)
        first = kelvor.out.wait_for(r"SMS to \+15550051 delivered after \d+ s\n", SMS)
        kelvor.out.wait_for(r"SMS to \+15550050 delivered after (\d+) s\n", SMS, start=first.end())
        phone.out.wait_for(r"REPORT sent to=\+15550050 mr=255 status=0", 5)
        phone.out.wait_for(r"REPORT sent to=\+15550051 mr=0 status=0", 5)
        phone.out.wait_for(r"REPORT acknowledged(.*\n)*REPORT acknowledged", 10)
        self.assertNotRegex(kelvor.out.text, r"matches no SMS|not delivered|unacknowledged")
        self.shut_down(kelvor, 2)


class Undelivered(Scenario):
    """A report of an expired alarm SMS, stored by a phone that will not push reports, is read
    and deleted, and moves the escalation on at once, whatever the rule's minutes."""
    com = 38

    def test_an_expired_alarm_escalates_within_a_minute_of_its_report(self):
        phone = self.phone("--report", "store", "--report-for", "+15550040,70")
        self.node.command(FEED)
        kelvor = self.kelvor(phone, "DEST=+15550040,A,H,0", "ESCALATE=+15550040,30,+15550041",
                             "DELIVERY=5")
        kelvor.out.wait_for(r"TX>>AT\+CNMI=2,1,0,2\n", INIT)
        self.node.command(FEED_ALARM)
        self.assertEqual(self.messages(phone, 1, SMS)[0][0], "+15550040")
        kelvor.out.wait_for(r"SMS to \+15550040 not delivered - the validity period expired, "
                            r"the phone was off or unreachable\n", SMS)
        reported = time.monotonic()
        escalated = self.messages(phone, 2, 60)[1]
        self.assertLess(time.monotonic() - reported, 60)
        self.assertEqual(escalated[0], "+15550041")
        phone.out.wait_for(r"REPORT deleted index=1", 5)
        self.assertRegex(kelvor.out.text, r'TX>>AT\+CPMS="SR"\n(.*\n)*TX>>AT\+CMGR=1\n(.*\n)*'
                                          r'TX>>AT\+CMGD=1\n(.*\n)*TX>>AT\+CPMS="SM"\n')
        self.shut_down(kelvor, 1)


def duty_windows(now):
    """HOURS= windows for the local time `now`: one that holds it with two hours on either
    side, and one past midnight that leaves it out by an hour at least (near midnight, by its
    day: the day after tomorrow's night)."""
    minute = now.tm_hour * 60 + now.tm_min

    def clock(at):
        return "%02d:%02d" % divmod(at % 1440, 60)

    holds = f"1-7,{clock(minute - 120)}-{clock(minute + 120)}"
    if 90 <= minute <= 1350:
        return holds, f"1-7,{clock(minute + 60)}-{clock(minute - 60)}"
    return holds, f"{(now.tm_wday + 2) % 7 + 1},22:00-06:00"


class DutyHours(Scenario):
    """HOURS= and HOLIDAYS=, whatever the hour the scenario runs at: only the numbers on duty
    get the alarm; a window past midnight that leaves now out keeps its number off duty;
    today, a holiday, is a Sunday; an alarm only numbers off duty take goes all the same, and
    says so; a wrong HOURS= is refused and the run goes on; the status answer says who is on
    duty; an escalation skips a number off duty to that number's own next."""
    com = 30

    def test_alarms_go_to_the_numbers_on_duty_and_none_is_dropped(self):
        now = time.localtime()
        holds, leaves_out = duty_windows(now)
        holidays = os.path.join(self.workdir, "holidays.txt")
        with open(holidays, "w") as file:
            file.write("# days off\n" + time.strftime("%Y-%m-%d", now) + "\nnot a date\n")
        phone = self.phone(control=os.path.join(self.workdir, "control"))
        self.node.command(FEED)
        self.node.command(TEMP)
        kelvor = self.kelvor(
            phone, "DEST=+15550031,A,H,0", "DEST=+15550032,A,H,0", "DEST=+15550033,A,H,0",
            "DEST=+15550034,A,H,0", "DEST=+15550036,B,L,0",
            f"HOURS=+15550031,{holds}", f"HOURS=+15550032,{leaves_out}",
            "HOURS=+15550033,7,00:00-24:00", "HOURS=+15550034,1-6,00:00-24:00",
            f"HOURS=+15550036,{leaves_out}", "HOURS=+15550035,1-9,08:00-17:00",
            "HOLIDAYS=" + CONFIG.path(holidays),
            "ESCALATE=+15550031,1,+15550032", "ESCALATE=+15550032,1,+15550037")
        kelvor.out.wait_for(r"Bad hours days - HOURS=\+number,days,hh:mm-hh:mm\[;days,"
                            r"hh:mm-hh:mm\]: HOURS=\+15550035,1-9,08:00-17:00; always on duty",
                            INIT)
        kelvor.out.wait_for(r"Bad holiday on line 3 - YYYY-MM-DD: not a date; skipped", 1)
        kelvor.out.wait_for(r"Going to ready", INIT)
        for number, duty in (("31", "on"), ("32", "off"), ("33", "on"), ("34", "off"),
                             ("36", "off")):
            kelvor.out.wait_for(rf"\+155500{number} goes {duty} duty\n", 1)

        self.node.command(FEED_ALARM)
        self.node.command(TEMP_ALARM)
        messages = self.messages(phone, 3, SMS)
        self.assertCountEqual(messages, [("+15550031", "7/06:05\nFeed flow high\n"),
                                         ("+15550033", "7/06:05\nFeed flow high\n"),
                                         ("+15550036", "7/06:06\nReactor temp low\n")])
        kelvor.out.wait_for(r"Off duty \+15550032 - ignoring alm", 1)
        kelvor.out.wait_for(r"no one on duty for TIC200 - sent to \+15550036\n", 1)

        phone.receive("+15550031", "S")
        status = self.messages(phone, 4, SMS)[3]
        self.assertRegex(status[1], r", on duty \+15550031 \+15550033\.$")
        escalated = self.messages(phone, 5, 60 + SMS)[4]
        self.assertEqual(escalated, ("+15550037", "No answer from +15550031 in 1 min\n"
                                                  "7/06:05\nFeed flow high\n"))
        self.shut_down(kelvor, 5)
        self.assertEqual(len(self.messages(phone)), 5)


class WakeUpCall(Scenario):
    """RING=: an alarm SMS nobody answers rings its number once after its minute, and the
    call is hung up after 30 s of ringing; a number that answers by SMS is never called; an
    alarm raised during the call goes as soon as it ends; a call coming in while an alarm
    goes out is left to ring, and the alarm goes once."""
    com = 26
    CALLED = "+15550026"
    ANSWERS = "+15550027"  # its handset answers each SMS after 3 s
    STRANGER = "+15559999"

    def test_an_unanswered_alarm_rings_its_number_once_and_an_answered_one_never(self):
        phone = self.phone("--auto-reply", f"{self.ANSWERS},3,OK",
                           control=os.path.join(self.workdir, "control"))
        self.node.command(FEED)
        self.node.command(TEMP)
        kelvor = self.kelvor(phone, f"DEST={self.CALLED},A,H,0", f"DEST={self.ANSWERS},AB,L,0",
                             f"RING={self.CALLED},1", f"RING={self.ANSWERS},1,H")
        ready = kelvor.out.wait_for(r"Going to ready", INIT)
        kelvor.out.wait_for(r"Wake-up call: \+15550026 is called when its alarm SMS \(every "
                            r"priority\) have no answer in 1 min\n(.*\n)*Wake-up call: "
                            r"\+15550027 is called when its alarm SMS \(high priority\) have "
                            r"no answer in 1 min\n", 1)

        self.node.command(FEED_ALARM)
        kelvor.out.wait_for(r"TX>>AT\+CMGS=", 10, ready.end())
        phone.tell(f"CALL_IN {self.STRANGER} 6 1000")  # rings through both SMS
        sent = phone.out.wait_for(r"SMS ref=\d+ to=\+15550026 ", SMS)
        confirmed = time.monotonic()
        feed = "7/06:05\nFeed flow high\n"
        self.assertCountEqual(self.messages(phone, 2, SMS),
                              [(self.CALLED, feed), (self.ANSWERS, feed)])
        kelvor.out.wait_for(r"SMS from \+15550027 - no wake-up call needed\n", SMS)

        dialled = phone.out.wait_for(r"CALL dialled to=(\S+)\n", 60 + SMS, sent.end())
        dialled_at = time.monotonic()
        self.node.command(TEMP_ALARM)  # for the number that answers, during the call
        raised = time.monotonic()
        self.assertEqual(dialled.group(1), self.CALLED)
        self.assertGreater(dialled_at - confirmed, 58)
        kelvor.out.wait_for(r"Wake-up call to \+15550026: 1 alarm SMS without an answer in "
                            r"1 min\n", 5)
        kelvor.out.wait_for(r"TX>>ATD\+15550026;\n", 5)
        ended = phone.out.wait_for(r"CALL ended to=\+15550026 by=(\S+)\n", 40, dialled.end())
        rang = time.monotonic() - dialled_at
        self.assertEqual(ended.group(1), "kelvor-ath")
        self.assertTrue(29 <= rang <= 33, f"the call rang {rang:.1f} s")
        hung_up = kelvor.out.wait_for(r"Call to \+15550026 not answered in 30 s - hung up\n", 5)
        polls = kelvor.out.text[:hung_up.start()].split("TX>>ATD+15550026;")[-1]
        self.assertTrue(8 <= polls.count("TX>>AT+CLCC") <= 11, polls)

        # The alarm raised during the call waited for its end, no longer.
        self.assertEqual(self.messages(phone, 3, SMS)[2],
                         (self.ANSWERS, "7/06:06\nReactor temp low\n"))
        self.assertLess(time.monotonic() - raised, 60)
        later = phone.out.wait_for(r"SMS ref=\d+ to=\+15550027 text=7/06:06", 1)
        self.assertGreaterEqual(later.start(), ended.end())

        phone.receive(self.CALLED, "status")
        status = self.messages(phone, 4, SMS)[3]
        self.assertEqual(status[0], self.CALLED)
        self.assertRegex(status[1], r"^Kelvor status\. .*, alarms read 2 since start, last "
                                    r"call 0 min ago: not answered\.$")
        self.shut_down(kelvor, 2)

        self.assertEqual(len(self.messages(phone)), 4)
        self.assertEqual(phone.out.count(r"CALL dialled"), 1)
        # The stranger's call rang its six rings unanswered, and disturbed nothing: no
        # command went unanswered, so the phone was never reset.
        self.assertEqual(phone.out.count(r"CALL in from=\+15559999\n"), 6)
        self.assertEqual(phone.out.count(r"CALL in answered"), 0)
        self.assertNotIn("TX>>ATA", kelvor.out.text)
        after_start = kelvor.out.text[ready.end():]
        reset = after_start.find("Timeout")
        if reset >= 0:
            self.fail("the phone timed out and was reset:\n" +
                      after_start[max(reset - 300, 0):reset + 60])


def spool_of_a_call(number, wait_ms):
    """A spool a killed run left with one wake-up call waited for, due in `wait_ms`: the
    header, an "R" record (kind, the SMS it is for, the ms left, the number's length, no text,
    the number, CRC-32) and the end record (its tick the count of records)."""
    def record(kind, count, tick, field=b""):
        body = kind + bytes([count]) + tick.to_bytes(4, "little") + bytes([len(field), 0]) + field
        return body + zlib.crc32(body).to_bytes(4, "little")
    return (b"KELVOR SPOOL 1\r\n" + record(b"R", 1, wait_ms, number.encode()) +
            record(b"E", 0, 1))


class WakeUpCallOnConnect(Scenario):
    """A phone that answers ATD only once the call is answered, here 12 s after the dial,
    keeps the call (no time-out, no reset) and it is hung up as any answered call. The call
    is one a killed run waited for, which the spool gives back a second before it is due."""
    com = 39
    CALLED = "+15550028"

    def test_a_call_answered_after_seconds_is_kept_and_hung_up(self):
        spool = os.path.join(self.workdir, "kelvor.spool")
        with open(spool, "wb") as file:
            file.write(spool_of_a_call(self.CALLED, 1000))
        phone = self.phone("--atd-on-connect", "--call-outcome", "answer:12:30")
        kelvor = self.kelvor(phone, f"DEST={self.CALLED},A,H,0", f"RING={self.CALLED},1",
                             CONFIG.spool_argument(spool))
        ready = kelvor.out.wait_for(r"Going to ready", INIT)
        kelvor.out.wait_for(r"Spool restores wake-up calls waited for: 1, no longer rung: 0", 1)
        dialled = phone.out.wait_for(r"CALL dialled to=\+15550028\n", 10)
        phone.out.wait_for(r"CALL answered to=\+15550028\n", 20, dialled.end())
        ended = phone.out.wait_for(r"CALL ended to=\+15550028 by=(\S+)\n", 10, dialled.end())
        self.assertEqual(ended.group(1), "kelvor-ath")
        kelvor.out.wait_for(r"Call to \+15550028 answered - hung up, it acknowledges nothing\n", 5)
        after_start = kelvor.out.text[ready.end():]
        self.assertNotIn("Timeout", after_start)
        self.assertNotIn("TX>>ATZ", after_start)
        self.shut_down(kelvor, 1)


class StandbyScenario(Scenario):
    """A main phone and a standby phone, each on a COM port of its own under Wine."""
    standby_com = None

    def standby(self, *args, control=None):
        return self.phone(*args, link=CONFIG.com_link(self.standby_com), control=control)

    def standby_argument(self, standby):
        return "STANDBY=" + CONFIG.port_argument(standby, self.standby_com)


class Standby(StandbyScenario):
    """The standby takes over from a main phone that is silent, the heartbeat's number hears
    of it, and an answer that reaches the standby's SIM stops the alarm's escalation."""
    com = 20
    standby_com = 21

    def test_a_silent_main_phone_leaves_the_alarm_to_the_standby(self):
        main = self.phone("--silent")
        standby = self.standby("--pin", "1357", control=os.path.join(self.workdir, "control"))
        self.node.command(FEED)
        self.node.command(FEED_ALARM)
        started = time.monotonic()
        kelvor = self.kelvor(main, "DEST=+15550020,A,H,0", "ESCALATE=+15550020,1,+15550021",
                             "HEARTBEAT=+15550099,60", "PIN=2468", "STANDBY_PIN=1357",
                             self.standby_argument(standby))
        messages = self.messages(standby, 3, 90)
        self.assertLess(time.monotonic() - started, 90)
        self.assertIn(("+15550020", "7/06:05\nFeed flow high\n"), messages)
        self.assertIn(("+15550099", "Kelvor: standby phone takes over, main phone silent."),
                      messages)
        kelvor.out.wait_for(r"Standby phone \S+ takes over - main phone \S+ silent\n", 1)
        standby.receive("+15550020", "on my way")
        self.assertEqual(self.messages(standby, 4, SMS)[3],
                         ("+15550020", "Kelvor: 1 alarm SMS acknowledged"))
        kelvor.out.wait_for(r"SMS from \+15550020 acknowledges 1 alarm SMS: on my way\n", 1)
        self.assertEqual(standby.out.count(r"SMS in deleted index="), 1)
        self.assertEqual(standby.out.count(r"PIN tried"), standby.out.count(r"PIN tried right"))
        self.shut_down(kelvor, 1)
        self.assertEqual(self.messages(main), [])


class StandbyNetwork(StandbyScenario):
    """The main phone off the network hands over to the standby, and takes back once its
    network returns; each SMS is delivered once."""
    com = 22
    standby_com = 23

    def test_the_main_phone_off_the_network_hands_over_and_takes_back(self):
        main = self.phone("--network", "2", control=os.path.join(self.workdir, "control"))
        standby = self.standby()
        self.node.command(FEED)
        self.node.command(LEVEL)
        self.node.command(FEED_ALARM)
        kelvor = self.kelvor(main, "DEST=+15550022,A,H,0", self.standby_argument(standby))
        self.assertEqual(self.messages(standby, 1, SMS),
                         [("+15550022", "7/06:05\nFeed flow high\n")])
        over = kelvor.out.wait_for(r"Standby phone \S+ takes over - main phone \S+ off the "
                                   r"network\n", 1)
        main.tell("NETWORK 1")
        back = time.monotonic()
        kelvor.out.wait_for(r"Main phone \S+ takes back from the standby - it answers and is "
                            r"registered\n", 60, over.end())
        self.assertLess(time.monotonic() - back, 60)
        self.node.command(LEVEL_ALARM)
        self.assertEqual(self.messages(main, 1, SMS), [("+15550022", "7/06:07\nTank level low\n")])
        self.shut_down(kelvor, 1)
        self.assertEqual(len(self.messages(standby)), 1)
        self.assertEqual(len(self.messages(main)), 1)


class SharingScenario(StandbyScenario):
    """Two phones that share the SMS (SHARE=ON), each sending at a network's pace."""
    SEND = ("--send-delay", "1500")
    NUMBERS = [f"+155500{n}" for n in range(40, 52)]

    def sharing(self, main, standby, *dests, **how):
        kelvor = self.kelvor(main, "PAUSE=0", *dests, self.standby_argument(standby), "SHARE=ON",
                             **how)
        kelvor.out.wait_for(r"Both phones send while both are well", INIT)
        kelvor.out.wait_for(r"(?s)(?=.*\nGoing to ready)(?=.*\nStandby Going to ready)", INIT)
        return kelvor

    def burst(self):
        """One alarm for the twelve numbers at once: twelve SMS queued together."""
        mark = len(self.node.out.text)
        self.node.command(BURST_ALARM)
        self.node.out.wait_for(r"< ALARM 0 \[NODE1 LIC300", 10, mark, what="SCADA node")
        return time.monotonic()

    def confirmed_in_order(self, kelvor):
        """Per number, the alarm minutes of its SMS in the order confirmed, from the console;
        no SMS to a number begins on one phone while the other's to it is on its way."""
        order, on_way = {}, {}  # on_way: by phone, [number, minute]
        for line in kelvor.out.own_lines():
            phone, line = ("Standby ", line[8:]) if line.startswith("Standby ") else ("", line)
            other = on_way.get("" if phone else "Standby ")
            sent = re.match(r"TX>>AT\+CMGS=\"(.*)\"", line)
            text = re.match(r"TX>>7/06:0(\d)$", line)
            if sent:
                self.assertFalse(other and other[0] == sent.group(1), "two to one number at once")
                on_way[phone] = [sent.group(1), None]
            elif text and phone in on_way:
                on_way[phone][1] = text.group(1)
            elif line == "Successfull send" and phone in on_way:
                number, minute = on_way.pop(phone)
                order.setdefault(number, []).append(minute)
            elif line == "Timeout" or line.startswith("SMS to "):
                on_way.pop(phone, None)
        return order


class SharedBurst(SharingScenario):
    """Twelve SMS to twelve numbers at once: two sharing phones send them in less than 0.7
    of the time one phone needs, each phone at least a third of them."""
    com = 31
    standby_com = 32

    def test_two_sharing_phones_send_a_burst_in_well_under_the_time_of_one(self):
        main = self.phone(*self.SEND)
        standby = self.standby(*self.SEND)
        self.node.command(LEVEL)
        dests = [f"DEST={number},C,H,0" for number in self.NUMBERS]
        alone = self.kelvor(main, "PAUSE=0", *dests)
        alone.out.wait_for(r"Going to ready", INIT)
        started = self.burst()
        self.messages(main, 12, SMS)
        one = time.monotonic() - started
        os.kill(alone.proc.pid, signal.SIGINT)
        self.assertEqual(alone.wait_exit(EXIT), 12)

        kelvor = self.sharing(main, standby, *dests)
        started = self.burst()
        deadline = started + SMS
        while len(self.messages(main)) + len(self.messages(standby)) < 24:
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.05)
        two = time.monotonic() - started
        print(f"\nburst of 12: one phone {one:.1f} s, two sharing {two:.1f} s", file=sys.stderr)
        self.assertLess(two, 0.7 * one)
        by_main, by_standby = self.messages(main)[12:], self.messages(standby)
        self.assertGreaterEqual(min(len(by_main), len(by_standby)), 4)
        self.assertCountEqual([to for to, _ in by_main + by_standby], self.NUMBERS)
        self.shut_down(kelvor, 12)


class SharedOrder(SharingScenario):
    """SMS to one number arrive in order and never two at once, while the other numbers' SMS
    go by the other phone; STATUS= says the phones share and what each sent."""
    com = 33
    standby_com = 34

    def test_sms_to_one_number_keep_their_order_on_two_phones(self):
        main = self.phone(*self.SEND)
        standby = self.standby(*self.SEND)
        for n in range(1, 6):
            self.node.command(f'TAG NODE1 S{n} A_DESC="Step {n}" A_CV="{n}" F_CV={n}')
        notify = None if CONFIG.wine else NotifySocket(os.path.join(self.workdir, "notify"))
        self.addCleanup(lambda: notify and notify.close())
        kelvor = self.sharing(main, standby, "DEST=+15550060,A,H,0", "DEST=+15550061,A,H,0",
                              "DEST=+15550062,A,H,0",
                              env_extra={"NOTIFY_SOCKET": notify.name} if notify else None)
        for n in range(1, 6):
            self.node.command(f"PUSH NODE1 S{n} areas=A priority=HIGH status=HI day=7 "
                              f"time=06:0{n}")
        deadline = time.monotonic() + 2 * SMS
        while len(self.messages(main)) + len(self.messages(standby)) < 15:
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        order = self.confirmed_in_order(kelvor)
        for number in ("+15550060", "+15550061", "+15550062"):
            self.assertEqual(order[number], list("12345"), number)
        self.assertTrue(main.messages() and standby.messages(), "each phone sends")
        while notify:
            status = notify.until("STATUS=", SMS)[-1]
            sent = re.search(r", phones share, sent by main (\d+), by standby (\d+) since", status)
            self.assertTrue(sent, status)
            if int(sent.group(1)) + int(sent.group(2)) == 15:
                self.assertEqual(int(sent.group(1)), len(main.messages()))
                break
        self.shut_down(kelvor, 3)


class SharedFailure(SharingScenario):
    """A phone switched off in the middle of a burst leaves its SMS to the other: each is
    delivered once, the takeover is said, and the heartbeat's number hears of it."""
    com = 35
    standby_com = 36

    def test_a_phone_that_goes_silent_mid_burst_leaves_its_sms_to_the_other(self):
        main = self.phone(*self.SEND, control=os.path.join(self.workdir, "control"))
        standby = self.standby(*self.SEND)
        self.node.command(LEVEL)
        dests = [f"DEST={number},C,H,0" for number in self.NUMBERS]
        kelvor = self.sharing(main, standby, *dests, "HEARTBEAT=+15550099,60")
        kelvor.out.wait_for(r"Kelvor started\. ", SMS)  # the first heartbeat's text
        self.burst()
        self.messages(main, len(self.messages(main)) + 2, SMS)
        main.tell("POWER off")
        kelvor.out.wait_for(r"Standby phone \S+ takes over - main phone \S+ silent\n", SMS)
        deadline = time.monotonic() + 2 * SMS
        while {to for to, _ in self.messages(main) + self.messages(standby)} < set(self.NUMBERS):
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        standby.out.wait_for(r"text=Kelvor: standby phone takes over, main phone silent\.",
                             SMS)
        delivered = [to for to, _ in self.messages(main) + self.messages(standby)
                     if to in self.NUMBERS]
        self.assertCountEqual(delivered, self.NUMBERS, "each SMS delivered once")
        self.shut_down(kelvor, 12)


class HungRadio(Scenario):
    """A single phone whose radio hangs: it answers AT but refuses every text until it is
    restarted. Kelvor restarts it, gives the SIM its PIN again, and the alarm goes."""
    com = 25

    def test_a_hung_radio_is_restarted_and_the_alarm_delivered(self):
        phone = self.phone("--radio-hang", "--pin", "2468")
        self.node.command(FEED)
        self.node.command(FEED_ALARM)
        kelvor = self.kelvor(phone, "DEST=+15550024,A,H,0", "PIN=2468")
        self.assertEqual(self.messages(phone, 1, 2 * SMS),
                         [("+15550024", "7/06:05\nFeed flow high\n")])
        kelvor.out.wait_for(r"Radio hung: 2 sendings in a row refused, not counted - restarting "
                            r"it\nRestarting the radio\nTX>>AT\+CFUN=1,1\n", 1)
        self.assertEqual(phone.out.count(r"the radio hung\n"), 2)
        self.assertEqual(phone.out.count(r"RADIO restarted"), 1)
        self.assertEqual(phone.out.count(r"PIN tried right"), 2)
        self.shut_down(kelvor, 1)


class TextsAsWritten(Scenario):
    """CHARSET=AUTO: descriptions in the node's code page arrive as written, in the GSM
    alphabet where it has every character, as UCS-2 where it has not, also after a refused
    sending and the reset that follows; a batch with degree signs goes in UCS-2 SMS of at most
    70 characters, each holding whole alarms; a reply read while UCS-2 was in force still
    acknowledges."""
    com = 24

    def test_descriptions_arrive_as_written_in_7_bit_or_ucs2(self):
        written = ["FIC_101 @5 $3 ok", "Kessel 80°C, Pumpe Süd", "Setpoint [4] {B} ~5 |7| ^2 \\"]
        for n, text in enumerate(written):  # the node's texts are bytes of code page 1252
            self.node.command(f'TAG NODE1 T{n} A_DESC="{latin1_of_cp1252(text)}"')
        for n in range(8):
            self.node.command(f'TAG NODE1 B{n} A_DESC="Tank {n} {latin1_of_cp1252("21°C")}"')
        # The second text is refused: the reset after it brings back the phone's own set.
        phone = self.phone("--fail-sends", "2", "--auto-reply", "+15550022,1,OK")
        kelvor = self.kelvor(phone, "CHARSET=auto", "CODEPAGE=1252", "DEST=+15550021,A,H,0",
                             "DEST=+15550022,B,H,3", "REPLIES=ON",
                             "ESCALATE=+15550022,30,+15550099")
        kelvor.out.wait_for(r"Going to ready", INIT)
        for n in range(3):
            self.node.command(f"PUSH NODE1 T{n} areas=A priority=HIGH status=HI day=7 time=06:05")
        reset = kelvor.out.wait_for(r"\+CMS ERROR: 500(.*\n)*?Timeout\nTX>>ATZ", SMS)
        kelvor.out.wait_for(r'TX>>AT\+CSCS="8859-1"', INIT, reset.end())
        for n in range(8):
            self.node.command(f"PUSH NODE1 B{n} areas=B priority=HIGH status=HI day=7 time=06:06")
        self.messages(phone, 3, 2 * SMS)
        to_a = [text for to, text in self.messages(phone) if to == "+15550021"]
        self.assertEqual(to_a, [f"7/06:05\n{text}\n" for text in written])

        # The batch, and a confirmation after its last SMS: the engineer's "OK" to it, read
        # in the 7-bit set, acknowledges.
        expected = "".join(f"7/06:06\nTank {n} 21°C\n" for n in range(8))
        while True:
            batches = [text for to, text in self.messages(phone) if to == "+15550022"]
            alarms = [text for text in batches if not text.startswith("Kelvor")]
            if "".join(alarms) == expected and not batches[-1] in alarms:
                break
            self.messages(phone, len(self.messages(phone)) + 1, SMS)
        for text in alarms:
            self.assertLessEqual(len(text), 70)
            self.assertRegex(text, r"^(7/06:06\nTank \d 21°C\n)+$")
        self.assertRegex(batches[-1], r"^Kelvor: \d alarm SMS acknowledged$")
        kelvor.out.wait_for(r"SMS from \+15550022 acknowledges \d alarm SMS: OK\n", 1)
        self.assertEqual(phone.out.count(r"SMS refused"), 1)
        self.shut_down(kelvor, 2)


def latin1_of_cp1252(text):
    """A text's bytes in code page 1252, as the node's control line (Latin-1) carries them."""
    return text.encode("cp1252").decode("latin-1")


class Keys(Scenario):
    com = 9

    def setUp(self):
        if CONFIG.wine:
            self.skipTest("keys through a terminal: Linux only")
        super().setUp()

    def test_s_reports_the_modem_and_q_stops_through_the_terminal(self):
        phone = self.phone("--fail-sends", "1")
        self.node.command(FEED)
        self.node.command(FEED_ALARM)
        kelvor = self.kelvor(phone, "DEST=+15550009,A,H,0", terminal=True)
        error = kelvor.out.wait_for(r"\+CMS ERROR: 500", SMS)
        kelvor.press("\x1bOQ\x1bOS\x1b[15~\x1b[A\x1bq")  # F2, F4, F5, Up, Alt+Q: not Q or S
        kelvor.press("s")
        report = kelvor.out.wait_for(
            r"Signal Strength = 0 %.*\n.*Messages in Que = 1 .*\n.*Last Error      = 515 ",
            10, error.end())
        self.assertIn("\x1b[0;37;42m", report.group(0))  # the status report's own colour
        self.assertEqual((kelvor.out.count("Signal Strength"), kelvor.out.count("Quitting")),
                         (1, 0))
        kelvor.press("x")  # any other key is read and passed over
        kelvor.press("q")
        kelvor.out.wait_for(r"Quitting\.\.\.r(.*\n)*.*Exiting \.\.\.\.", 10, report.end())
        self.assertEqual(kelvor.wait_exit(EXIT), 1)
        self.assert_terminal_restored(kelvor)

    def test_a_stop_signal_ends_the_run_as_q_does(self):
        # A service manager's stop: the pass completes, the port is let go, the terminal
        # is put back, and the exit status is the number of destinations. Under systemd
        # (a stand-in notification socket, at a path, then in the abstract namespace) the
        # run says it is ready, pings the watchdog, publishes its status and says it stops.
        self.node.command(FEED)
        sockets = {signal.SIGTERM: os.path.join(self.workdir, "notify"),
                   signal.SIGINT: f"@kelvor-e2e-{os.getpid()}", signal.SIGHUP: None}
        for signal_number, socket_name in sockets.items():
            with self.subTest(signal=signal_number.name):
                notify = NotifySocket(socket_name) if socket_name else None
                if notify:
                    self.addCleanup(notify.close)
                phone = self.phone()
                kelvor = self.kelvor(phone, "DEST=+15550010,A,H,0", "DEST=+15550011,B,H,0",
                                     terminal=True,
                                     env_extra={"NOTIFY_SOCKET": socket_name} if notify else None)
                ready = kelvor.out.wait_for(r"Going to ready", INIT)
                if notify:
                    self.assert_notified(notify)
                os.kill(kelvor.proc.pid, signal_number)
                kelvor.out.wait_for(r"Quitting\.\.\.r(.*\n)*.*Exiting \.\.\.\.", 10, ready.end())
                self.assertEqual(kelvor.wait_exit(EXIT), 2)
                self.assert_terminal_restored(kelvor)
                if notify:
                    notify.until("STOPPING=1", 5)

    def test_a_run_started_with_sighup_ignored_outlives_it_and_ctrl_backslash_ends_it(self):
        # nohup kelvor ... &: the session's SIGHUP stays ignored. Ctrl-\ (SIGQUIT) ends the
        # run as Q does, and the terminal is as it was.
        self.node.command(FEED)
        kelvor = self.kelvor(self.phone(), "DEST=+15550014,A,H,0", terminal=True,
                             ignored=(signal.SIGHUP,))
        ready = kelvor.out.wait_for(r"Going to ready", INIT)
        os.kill(kelvor.proc.pid, signal.SIGHUP)
        kelvor.press("s")
        report = kelvor.out.wait_for(r"Signal Strength", 10, ready.end())
        self.assertEqual(kelvor.out.count("Quitting"), 0)
        kelvor.press("\x1c")  # Ctrl-\
        kelvor.out.wait_for(r"Quitting\.\.\.r(.*\n)*.*Exiting \.\.\.\.", 10, report.end())
        self.assertEqual(kelvor.wait_exit(EXIT), 1)
        self.assert_terminal_restored(kelvor)

    def assert_notified(self, notify):
        self.assertEqual(notify.until("READY=1", 5), ["READY=1"])
        self.assertEqual(notify.until("WATCHDOG=1", 5),
                         ["STATUS=Signal 0 %, SMS waiting 0, last error 0", "WATCHDOG=1"])
        notify.until("WATCHDOG=1", 5)  # and again, a second or so later

    def test_a_standard_output_nobody_reads_any_more_does_not_end_the_run(self):
        # `kelvor ... | tee log`, and tee dies: the log is lost, the run goes on, Q ends it.
        tee_in, kelvor_out = os.pipe()
        tee, log = harness._piped(self.processes, ["cat"], os.path.join(self.workdir, "tee.log"),
                                  stdin=tee_in)
        os.close(tee_in)
        kelvor = self.kelvor(self.phone(), "DEST=+15550012,A,H,0", terminal=True,
                             stdout=kelvor_out)
        os.close(kelvor_out)
        log.wait_for(r"Going to ready", INIT, what="tee")
        tee.kill()
        kelvor.press("sq")  # a report into the pipe, then Q
        self.assertEqual(kelvor.wait_exit(EXIT), 1)
        self.assert_terminal_restored(kelvor)

    def test_a_job_has_keys_in_the_foreground_and_lets_the_terminal_be_elsewhere(self):
        # kelvor ... &, fg; then another job in the foreground; then Ctrl-Z and bg. Keys work
        # whenever Kelvor is the foreground job, and nothing it does from the background
        # stops it (SIGTTOU, SIGTTIN).
        self.node.command(FEED)
        kelvor = self.kelvor(self.phone(), "DEST=+15550013,A,H,0", terminal=True,
                             background=True)
        ready = kelvor.out.wait_for(r"Going to ready", INIT)
        self.assert_terminal_restored(kelvor)  # not touched from the background
        kelvor.job("fg")
        self.wait_terminal(kelvor, taken=True)
        kelvor.press("s")
        kelvor.out.wait_for(r"Signal Strength", 10, ready.end())
        kelvor.job("away")
        self.wait_terminal(kelvor, taken=False)
        kelvor.job("fg")
        self.wait_terminal(kelvor, taken=True)
        kelvor.press("\x1a")  # Ctrl-Z
        self.wait_terminal(kelvor, taken=False)
        kelvor.job("away")  # bg
        mark = len(kelvor.out.text)
        self.node.command(FEED_ALARM)
        kelvor.out.wait_for(r"FIC101", 10, mark)
        kelvor.job("fg")
        self.wait_terminal(kelvor, taken=True)
        kelvor.press("q")
        self.assertEqual(kelvor.wait_exit(EXIT), 1)
        self.assert_terminal_restored(kelvor)

    def wait_terminal(self, kelvor, taken):
        deadline = time.monotonic() + 10  # a pass or two
        while self.echoing(kelvor) == taken:
            if time.monotonic() > deadline:
                self.fail(f"Kelvor did not {'take' if taken else 'give back'} the terminal")
            time.sleep(0.05)

    def echoing(self, kelvor):
        settings = termios.tcgetattr(kelvor.master)
        return bool(settings[3] & termios.ECHO and settings[3] & termios.ICANON)

    def assert_terminal_restored(self, kelvor):
        self.assertTrue(self.echoing(kelvor), "the terminal was left without echo or line input")


def com_ports_shared():
    """The COM numbers two scenarios both use: scenarios run at once, and under Wine each
    number is one link in the prefix, so two scenarios on one number take each other's port."""
    owners = {}
    for scenario in globals().values():
        if not (isinstance(scenario, type) and issubclass(scenario, Scenario)):
            continue
        if not any(name.startswith("test_") for name in vars(scenario)):
            continue
        for number in (scenario.com, getattr(scenario, "standby_com", None)):
            if number is not None:
                owners.setdefault(number, []).append(scenario.__name__)
    return {number: names for number, names in owners.items() if len(names) > 1}


def main():
    global CONFIG
    shared = com_ports_shared()
    if shared:
        sys.exit(f"scenarios share COM ports: {shared}")
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelvor", required=True)
    parser.add_argument("--node", required=True)
    parser.add_argument("--phone", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--holder")
    parser.add_argument("--new-group")
    options, rest = parser.parse_known_args()
    harness.start_signals_at_default()
    CONFIG = harness.Config(options.kelvor, options.node, options.phone, options.wine)
    CONFIG.holder = options.holder
    CONFIG.new_group = options.new_group
    harness.run_scenarios(CONFIG, rest)


if __name__ == "__main__":
    main()
