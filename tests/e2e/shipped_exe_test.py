"""The shipped 32-bit kelvor.exe, run as it is under i386 Wine and qemu-i386 (tools/wine32.sh),
against the SCADA node and GSM phone simulators, with the stand-in SCADA libraries built
cdecl and then stdcall: the i386 code that only this build has (the call that puts the stack
back after each SCADA operation, the 32-bit layout of what the libraries see) at work.

    shipped_exe_test.py --exe build/windows/app/kelvor.exe --stand-ins build/windows/stand-ins
                        --node kelvor-scada-node --phone kelvor-gsm-sim --wine tools/wine32.sh

Each start of the emulated program costs a minute or more of one core: the program is started
three times in all, one at a time. Exits 77 (skipped) with the reason when something it needs
is missing. Wine's own messages go to the scenario's logs, which a failure names."""
import argparse
import copy
import os
import shutil
import sys
import tempfile
import unittest

import harness
from harness import Kelvor, Phone, Processes, ScadaNode

CONFIG = None
STAND_INS = None

# Under emulation the program takes a minute or more to start, and each step is slower.
START = 360
SMS = 180
STEP = 90

FEED = 'TAG NODE1 FIC101 A_DESC="Feed flow high" A_CV="   12.5" F_CV=12.5'
FEED_ALARM = "PUSH NODE1 FIC101 areas=A priority=HIGH status=HI day=7 time=06:05"


class ShippedExe(unittest.TestCase):
    com = 7

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="kelvor-shipped-")
        self.processes = Processes()
        self.addCleanup(self.processes.end_all)
        self.failed = True
        self.addCleanup(self._logs)

    def _logs(self):
        if self.failed:
            print(f"\nlogs of {self.id()}: {self.workdir}", file=sys.stderr)
        else:
            shutil.rmtree(self.workdir, ignore_errors=True)

    def test_without_arguments_it_prints_its_usage(self):
        proc, out = harness._piped(self.processes, CONFIG.command, os.path.join(
            self.workdir, "kelvor.log"), errors_path=os.path.join(self.workdir, "wine.log"))
        out.wait_for(r"Usage : Kelvor COMx=\[baud,parity,bits,stopbits\] SERVICE=\+nnn "
                     r"DEST=\+xxx,y,z,d,f\n", START, what="kelvor.exe")
        self.assertEqual(proc.wait(timeout=STEP), 0)
        self.failed = False

    def test_with_cdecl_libraries(self):
        self.alarm_status_and_shutdown("cdecl")

    def test_with_stdcall_libraries(self):
        self.alarm_status_and_shutdown("stdcall")

    def alarm_status_and_shutdown(self, call):
        """An alarm to two destinations, one of them with full messages (the tag's text read
        too), delivered as its exact SMS; the status asked for, answered with the figures of
        the S report; the SCADA system's shutdown ends the run, its exit status the number of
        destinations.

        Neither the key S nor Q can reach the program here: Wine's console, made of a
        terminal, hands no key to a program that peeks at its input as Kelvor does (_kbhit),
        the 64-bit Wine neither; and Ctrl-C (SIGINT), which Kelvor reads as Q, breaks the
        emulated Wine's link to its server ("wine client error: write: Bad file
        descriptor"), which leaves the program hanging. So the status is asked by SMS, and
        the run ends as the SCADA system shuts down, through the same last pass as Q."""
        folder = os.path.join(self.workdir, call)
        os.mkdir(folder)
        shutil.copy(CONFIG.command[-1], folder)
        for dll in ("EDA.dll", "FIXTOOLS.dll"):
            shutil.copy(os.path.join(STAND_INS, call, dll), folder)
        config = copy.copy(CONFIG)
        config.command = [CONFIG.wine, os.path.join(folder, "kelvor.exe")]

        node = ScadaNode(self.processes, config.node_program, self.workdir)
        self.addCleanup(node.close)
        node.command(FEED)
        node.command(FEED_ALARM)
        phone = Phone(self.processes, config.phone_program, self.workdir,
                      link=config.com_link(self.com),
                      control=os.path.join(self.workdir, "control"))
        kelvor = Kelvor(self.processes, config, self.workdir, node,
                        [f"COM{self.com}=9600,n,8,1", "SERVICE=+99912345", "REPLIES=ON",
                         "DEST=+15550001,A,H,1", "DEST=+15550002,AB,L,1,F"])

        self.assertCountEqual(phone.wait_messages(2, SMS), [
            ("+15550001", "7/06:05\nFeed flow high\n"),
            ("+15550002", "Fix Alarms\n7/06:05\nFIC101\nHI\nFeed flow high\n=12.5\n"),
        ])
        phone.receive("+15550002", "status")
        self.assertRegex(phone.wait_messages(3, SMS)[2][1],
                         r"^Kelvor status\. Signal \d+%, SMS waiting 0, last error 0, "
                         r"alarms read 1 since start\.$")
        node.command("SHUTDOWN")
        self.assertEqual(kelvor.wait_exit(STEP), 2)
        kelvor.out.wait_for(r"FIX has been shut down\n(.*\n)*Exiting \.\.\.\.", 1)
        self.assertNotIn("Shutdown discards", kelvor.out.text)
        self.failed = False


def main():
    global CONFIG, STAND_INS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--stand-ins", required=True)
    parser.add_argument("--node", required=True)
    parser.add_argument("--phone", required=True)
    parser.add_argument("--wine", required=True)
    options, rest = parser.parse_known_args()
    harness.start_signals_at_default()
    CONFIG = harness.Config(os.path.abspath(options.exe), options.node, options.phone,
                            options.wine)
    CONFIG.start_timeout = START
    STAND_INS = options.stand_ins
    harness.run_scenarios(CONFIG, rest)


if __name__ == "__main__":
    main()
