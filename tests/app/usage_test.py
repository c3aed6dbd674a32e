"""The built program, run with no arguments, prints its start-up and usage lines and
exits with status 0 without waiting for a key."""
import subprocess
import sys

program = sys.argv[1:]
result = subprocess.run(program, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
lines = result.stdout.decode("latin-1").split("\r\n")
assert lines[-1] == "", repr(lines[-1])
lines = lines[:-1]
failures = []
if result.returncode != 0:
    failures.append(f"exit status {result.returncode}")
if len(lines) != 18:
    failures.append(f"{len(lines)} lines, expected 18")
expected = {
    0: "Kelvor Startup",
    1: "starting SMS Alarm Router 1",
    2: "Usage : Kelvor COMx=[baud,parity,bits,stopbits] SERVICE=+nnn DEST=+xxx,y,z,d,f",
    17: "",
}
for index, text in expected.items():
    if index < len(lines) and lines[index].strip("\r") != text:
        failures.append(f"line {index}: {lines[index]!r}, expected {text!r}")
if "\x1b" in result.stdout.decode("latin-1"):
    failures.append("colour escapes in output that is not a terminal")
print("\n".join(failures) or "usage: 1 passed, 0 failed")
sys.exit(1 if failures else 0)
