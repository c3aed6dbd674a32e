#!/usr/bin/env python3
"""The burst benchmark: how fast Kelvor sends a burst of SMS, and whether it keeps reading
the alarm queue meanwhile. Measured by hand, not a test:

    cmake --preset linux && cmake --build --preset linux -j2 \\
        --target kelvor kelvor-scada-node kelvor-gsm-sim
    python3 bench/burst.py [--profile fast|network|both] [--runs 3] [--sms 20] [--pause S]
                           [--phones 1|2|both]

One alarm, taken by 20 destinations of delay 0, makes 20 SMS due at once; it comes when
the modem has just reached Ready. The GSM phone simulator answers as one of two profiles:

    fast      answers a command after 50 ms, confirms a text 0.3 s after its Ctrl-Z
    network   answers a command after 50 ms, confirms a text 3 s after its Ctrl-Z

Kelvor runs with PAUSE=S when --pause is given (the phone's rest after each SMS it
confirms), with its own pause of a second without. Each run sends the burst by one phone,
then by two phones of the same profile that share the SMS (STANDBY= and SHARE=ON), side by
side (--phones 1 or 2 for one of them). Each run prints the seconds per SMS (from the moment Kelvor reads the alarm to the
phone's confirmation of the last SMS, divided by their number) and the longest gap
between two alarm-queue reads over that time (the SCADA node simulator's log of the
ALARM requests, up to the first read after the last SMS); then the median and range of
each profile's runs. A run's logs stay in a temporary folder when it fails, or always
with --keep. Options --kelvor, --node and --phone name other programs (default: the
Linux build in build/linux)."""
import argparse
import os
import re
import shutil
import signal
import statistics
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402

PROFILES = {
    "fast": ["--delay", "50", "--send-delay", "300"],
    "network": ["--delay", "50", "--send-delay", "3000"],
}
TAG = 'TAG NODE1 FIC101 A_DESC="Feed flow high" A_CV="12.5" F_CV=12.5'
ALARM = "PUSH NODE1 FIC101 areas=A priority=HIGH status=HI"
ALARM_READ = re.compile(r"^\[\s*(\d+\.\d+)\] #\d+ > ALARM ", re.M)
RECORD_READ = r"\[\s*(\d+\.\d+)\] #\d+ < ALARM 0 "


def burst(config, profile, count, workdir, pause=None, phones=1):
    """(seconds per SMS, longest gap between alarm reads) of one run by `phones` phones,
    two of them sharing the SMS."""
    processes = harness.Processes()
    node = None
    try:
        node = harness.ScadaNode(processes, config.node_program, workdir, args=("--verbose",))
        sims = [harness.Phone(processes, config.phone_program, workdir, PROFILES[profile])
                for _ in range(phones)]
        node.command(TAG)
        destinations = [f"DEST=+1555{n:04d},A,H,0" for n in range(count)]
        paused = [f"PAUSE={pause}"] if pause is not None else []
        shared = (["STANDBY=" + config.port_argument(sims[1], 2), "SHARE=ON"]
                  if phones == 2 else [])
        kelvor = harness.Kelvor(processes, config, workdir, node,
                                [config.port_argument(sims[0], 1), "SERVICE=+99912345",
                                 *paused, *destinations, *shared])
        kelvor.out.wait_for(r"\nGoing to ready", 60, what="Kelvor")
        if phones == 2:
            kelvor.out.wait_for(r"Standby Going to ready", 60, what="Kelvor")
        mark = len(node.out.text)
        node.command(ALARM)
        read = node.out.wait_for(RECORD_READ, 10, mark, what="SCADA node")
        started = time.monotonic()
        while sum(sim.out.count(r"SMS ref=") for sim in sims) < count:
            if time.monotonic() > started + 30 + 15 * count:
                raise harness.Failure("the burst did not go out in time")
            time.sleep(0.01)
        took = time.monotonic() - started
        node.out.wait_for(r"> ALARM ", 5, len(node.out.text), what="SCADA node")
        refused = sum(sim.out.count(r"SMS refused") for sim in sims)
        if refused:
            raise harness.Failure(f"the phones refused {refused} SMS")
        os.kill(kelvor.proc.pid, signal.SIGINT)
        kelvor.wait_exit(20)
        return took / count, longest_gap(node.out.text, read, took)
    finally:
        processes.end_all()
        if node:
            node.close()


def longest_gap(node_log, read, took):
    """The longest time between two alarm reads from the burst's record to the first read
    after the last SMS, in the node's own time stamps."""
    first = float(read.group(1))
    reads = [float(t) for t in ALARM_READ.findall(node_log, read.start())]
    reads = [t for t in reads if t >= first]
    after = next((i for i, t in enumerate(reads) if t > first + took), len(reads) - 1)
    window = reads[:after + 1]
    return max((b - a for a, b in zip(window, window[1:])), default=0.0)


def summary(values):
    return (f"median {statistics.median(values):.2f} s, "
            f"range {min(values):.2f} to {max(values):.2f} s")


def main():
    parser = argparse.ArgumentParser(description="Kelvor's burst benchmark (see the top of "
                                                 "this file)")
    parser.add_argument("--profile", choices=["fast", "network", "both"], default="both")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sms", type=int, default=20, help="destinations, so SMS (1 to 21)")
    parser.add_argument("--pause", help="Kelvor's PAUSE= (seconds); without it, its own")
    parser.add_argument("--phones", choices=["1", "2", "both"], default="both",
                        help="one phone, two sharing, or both side by side")
    parser.add_argument("--keep", action="store_true", help="keep every run's logs")
    build = os.path.join(ROOT, "build", "linux")
    parser.add_argument("--kelvor", default=os.path.join(build, "app", "kelvor"))
    parser.add_argument("--node", default=os.path.join(build, "sim", "scada_node",
                                                       "kelvor-scada-node"))
    parser.add_argument("--phone", default=os.path.join(build, "sim", "gsm_modem",
                                                        "kelvor-gsm-sim"))
    options = parser.parse_args()
    harness.start_signals_at_default()  # Ctrl-C ends each run, from a background job too
    config = harness.Config(options.kelvor, options.node, options.phone)
    reason = config.missing() or (None if os.access(options.kelvor, os.X_OK)
                                  else f"{options.kelvor} is not built")
    if not 1 <= options.sms <= 21:
        reason = "--sms: 1 to 21 (the SMS Kelvor's queue holds)"
    if reason:
        sys.exit(reason)
    profiles = ["fast", "network"] if options.profile == "both" else [options.profile]
    counts = [1, 2] if options.phones == "both" else [int(options.phones)]
    results = {}
    for profile in profiles:
        for run in range(1, options.runs + 1):
            for phones in counts:
                name = f"{profile} {'one phone' if phones == 1 else 'two sharing'}"
                workdir = tempfile.mkdtemp(prefix=f"kelvor-burst-{profile}-{phones}-")
                try:
                    per_sms, gap = burst(config, profile, options.sms, workdir, options.pause,
                                         phones)
                except harness.Failure as failure:
                    sys.exit(f"{name} run {run} failed (logs in {workdir}): {failure}")
                results.setdefault(name, []).append((per_sms, gap))
                print(f"{name:20} run {run}: {per_sms:.2f} s per SMS "
                      f"({per_sms * options.sms:.1f} s for {options.sms}), "
                      f"longest gap between alarm reads {gap:.2f} s", flush=True)
                if options.keep:
                    print(f"{'':20} logs in {workdir}")
                else:
                    shutil.rmtree(workdir, ignore_errors=True)
    for name, runs in results.items():
        print(f"{name:20} per SMS: {summary([r[0] for r in runs])}; longest gap between "
              f"alarm reads: {summary([r[1] for r in runs])}")


if __name__ == "__main__":
    main()
