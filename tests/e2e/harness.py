"""Runs the real programs together: the SCADA node simulator, the GSM phone simulator on a
pseudo-terminal, and Kelvor (the Linux program, or kelvor.exe under Wine), each watched
through its output. Every wait has a time-out; every process started is ended."""
import os
import pty
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SKIP = 77  # CTest's SKIP_RETURN_CODE


class Failure(AssertionError):
    pass


class Output:
    """The text a process writes, gathered by a thread, with line ends normalised."""

    def __init__(self, stream_fd, log_path=None):
        self._text = ""
        self._raw = ""
        self._cond = threading.Condition()
        self._closed = False
        self._log = open(log_path, "w", encoding="latin-1") if log_path else None
        self._thread = threading.Thread(target=self._pump, args=(stream_fd,), daemon=True)
        self._thread.start()

    def _pump(self, fd):
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # a pty master reads EIO once the other side is gone
                chunk = b""
            if not chunk:
                break
            text = chunk.decode("latin-1")
            if self._log:
                self._log.write(text)
                self._log.flush()
            with self._cond:
                self._raw += text
                self._text += text.replace("\r", "")
                self._cond.notify_all()
        os.close(fd)
        if self._log:
            self._log.close()
        with self._cond:
            self._closed = True
            self._cond.notify_all()

    @property
    def text(self):
        with self._cond:
            return self._text

    @property
    def raw(self):
        """The text as written, line ends included."""
        with self._cond:
            return self._raw

    def lines(self):
        return self.text.split("\n")

    def own_lines(self):
        """The lines the program itself ended with CR LF: what shares its output without
        them, such as Wine's own messages, is left out."""
        with self._cond:
            raw = self._raw
        return [line.replace("\r", "") for line in raw.split("\n") if line.endswith("\r")]

    def wait_for(self, pattern, timeout, start=0, what=None):
        """The first match of `pattern` (a regular expression) at or after `start`."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                match = regex.search(self._text, start)
                if match:
                    return match
                left = deadline - time.monotonic()
                if left <= 0 or self._closed:
                    tail = self._text[-1500:]
                    raise Failure(f"{what or 'output'}: no {pattern!r} within {timeout} s"
                                  f"{' (output ended)' if self._closed else ''}; last output:\n"
                                  f"{tail}")
                self._cond.wait(min(left, 0.5))

    def count(self, pattern):
        return len(re.findall(pattern, self.text))


class Processes:
    """Every process a scenario starts, ended (terminated, then killed) at cleanup."""

    def __init__(self):
        self._procs = []

    def start(self, argv, **kwargs):
        proc = subprocess.Popen(argv, **kwargs)
        self._procs.append(proc)
        return proc

    def end_all(self):
        for proc in reversed(self._procs):
            if proc.poll() is None:
                proc.terminate()
        for proc in reversed(self._procs):
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


def _piped(processes, argv, log_path, env=None, errors_path=None, stdin=subprocess.DEVNULL):
    """Standard output through a pipe, watched; standard error with it, or into a file."""
    read_fd, write_fd = os.pipe()
    errors = open(errors_path, "wb") if errors_path else subprocess.STDOUT
    proc = processes.start(argv, stdin=stdin, stdout=write_fd, stderr=errors, env=env)
    os.close(write_fd)
    if errors_path:
        errors.close()
    return proc, Output(read_fd, log_path)


class ScadaNode:
    """kelvor-scada-node on a free port, steered by control commands."""

    def __init__(self, processes, program, workdir, args=()):
        self.proc, self.out = _piped(processes, [program, "--port", "0", *args],
                                     os.path.join(workdir, "node.log"))
        match = self.out.wait_for(r"listening on (\S+):(\d+)\n", 10, what="SCADA node")
        self.address = f"{match.group(1)}:{match.group(2)}"
        self._control = socket.create_connection((match.group(1), int(match.group(2))), 5)
        self._answers = self._control.makefile("r", encoding="latin-1")

    def command(self, line):
        self._control.sendall((line + "\n").encode("latin-1"))
        answer = self._answers.readline().strip()
        if not answer.startswith("OK"):
            raise Failure(f"node command {line!r}: {answer!r}")
        return answer

    def close(self):
        self._control.close()


SMS_LINE = re.compile(r"SMS ref=(\d+) to=(\S*) text=(.*)\n")


def unescape(text):
    return re.sub(r"\\(x[0-9A-Fa-f]{2}|.)", lambda m: {"n": "\n", "r": "\r", "\\": "\\"}.get(
        m.group(1), chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x" else m.group(1)), text)


def escape(text):
    """A text as the phone simulator's event lines write it and its control lines take it."""
    return "".join({"\\": "\\\\", "\n": "\\n", "\r": "\\r"}.get(c) or
                   (c if " " <= c <= "~" else f"\\x{ord(c):02X}") for c in text)


class Phone:
    """kelvor-gsm-sim: a GSM phone on a pseudo-terminal; `link` names the device also as
    that path (a Wine COM port). With `control`, a path, the phone takes commands there
    while it runs (see tell)."""

    def __init__(self, processes, program, workdir, args=(), link=None, control=None):
        argv = [program, *args] + (["--link", link] if link else [])
        argv += ["--control", control] if control else []
        self.control = control
        self.proc, self.out = _piped(processes, argv, os.path.join(workdir, "phone.log"))
        self.device = self.out.wait_for(r"^(/dev/\S+)\n", 10, what="GSM phone").group(1)
        self.link = link
        if link:  # the link is made before the path is printed; wait for it all the same
            deadline = time.monotonic() + 5
            while not os.path.islink(link) and time.monotonic() < deadline:
                time.sleep(0.05)

    def stop(self):
        """Ends the phone as an unplugged device goes: its pseudo-terminal hangs up and the
        link to it is removed."""
        self.proc.terminate()
        self.proc.wait(timeout=5)

    def messages(self):
        """Each SMS delivered, (number, text), the text as the handset shows it."""
        return [(to, unescape(text).encode("latin-1").decode("utf-8", "replace"))
                for _, to, text in SMS_LINE.findall(self.out.text)]

    def tell(self, line):
        """A control command: "RECEIVE <sender> <text>" (both written by escape, a blank
        in the sender as \\x20), "NETWORK <stat>", "POWER off" or "POWER on"."""
        fifo = os.open(self.control, os.O_WRONLY | os.O_NONBLOCK)  # fails if the phone is gone
        try:
            os.write(fifo, (line + "\n").encode("latin-1"))
        finally:
            os.close(fifo)

    def receive(self, sender, text):
        """An SMS from `sender` reaches the phone now."""
        sender = escape(sender).replace(" ", r"\x20")
        self.tell(f"RECEIVE {sender} {escape(text)}")

    def wait_messages(self, count, timeout):
        deadline = time.monotonic() + timeout
        while len(self.messages()) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"phone: {len(self.messages())} of {count} SMS within "
                              f"{timeout} s: {self.messages()}")
            start = len(self.out.text)
            try:
                self.out.wait_for(r"SMS ref=.*\n", left, start)
            except Failure:
                pass
        return self.messages()


class NotifySocket:
    """A stand-in for systemd's notification socket: a datagram socket at a path, or in the
    abstract namespace for a name that starts with "@"."""

    def __init__(self, name):
        self.name = name
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self._socket.bind("\0" + name[1:] if name.startswith("@") else name)

    def until(self, wanted, timeout):
        """The messages received, up to and including the first that begins with `wanted`."""
        got = []
        deadline = time.monotonic() + timeout
        while not got or not got[-1].startswith(wanted):
            self._socket.settimeout(max(deadline - time.monotonic(), 0.01))
            try:
                got.append(self._socket.recv(4096).decode("latin-1"))
            except socket.timeout:
                raise Failure(f"notify socket: no {wanted!r} within {timeout} s; got {got[-20:]}")
        return got

    def close(self):
        self._socket.close()


class Kelvor:
    """The program under test: the Linux build, or kelvor.exe run by tools/wine.sh."""

    def __init__(self, processes, config, workdir, node, args, terminal=False, stdout=None,
                 background=False, name="kelvor", env_extra=None, ignored=()):
        # A service manager's socket reaches the program only when a scenario gives one.
        env = {k: v for k, v in os.environ.items() if k != "NOTIFY_SOCKET"}
        env.update(SCADA_NODE=node.address, **(env_extra or {}))
        argv = config.command + args
        self.terminal = terminal
        self._shell = None
        if background:  # a job of a stand-in shell, steered by job()
            commands, self._shell = os.pipe()
            self.proc, self.out, self.master = _in_terminal(
                processes, argv, env, workdir, shell=(commands, self._shell))
            os.close(commands)
        elif terminal:
            self.proc, self.out, self.master = _in_terminal(processes, argv, env, workdir,
                                                            stdout, ignored=ignored)
        else:
            self._start_piped(processes, config, argv, workdir, env, name)

    def _start_piped(self, processes, config, argv, workdir, env, name):
        # A Wine program started just as the previous one's wineserver exits loses its
        # connection to it before it runs: started again, it gets a fresh server.
        # Wine's own messages go to a file, kelvor-wine.log: the Wine server inherits them from the
        # program that started it, and writes a list of all its objects there (megabytes)
        # whenever it gets SIGHUP, as it does when a serial device it opened hangs up (the
        # first terminal it opens becomes its controlling one). Through the pipe, every Wine
        # program stood still until the harness had read that list.
        for attempt in range(3):
            log = os.path.join(workdir, f"{name}{attempt or ''}.log")
            if not config.wine:
                self.proc, self.out = _piped(processes, argv, log, env)
                return
            errors = os.path.join(workdir, f"{name}-wine{attempt or ''}.log")
            self.proc, self.out = _piped(processes, argv, log, env, errors)
            if self._started_under_wine(errors, config.start_timeout):
                return
            self.proc.wait(timeout=10)
            time.sleep(1)
        raise Failure("Wine could not start kelvor.exe")

    def _started_under_wine(self, errors, timeout):
        """True once kelvor.exe starts; False when Wine lost its server first."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                self.out.wait_for(r"Kelvor Startup", 0.5, what="Kelvor")
                return True
            except Failure:
                with open(errors, encoding="latin-1") as file:
                    if "wine client error" in file.read():
                        return False
        raise Failure(f"kelvor.exe did not start within {timeout} s; last output:\n"
                      f"{self.out.text[-1500:]}")

    def press(self, keys):
        os.write(self.master, keys.encode())

    def job(self, command):
        """'fg': Kelvor becomes the terminal's foreground job; 'away': the shell takes the
        terminal back (as it does when a job stops, or fg's another). Either continues it."""
        os.write(self._shell, command[0].encode())

    def wait_exit(self, timeout):
        if self._shell is not None:  # no more commands: the shell waits for its job
            os.close(self._shell)
            self._shell = None
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"Kelvor still running after {timeout} s; last output:\n"
                          f"{self.out.text[-1500:]}")


class _TerminalProcess:
    """A child in a new session whose controlling terminal is a pseudo-terminal, shaped like
    a Popen for Processes."""

    def __init__(self, pid):
        self.pid = pid
        self.returncode = None

    def poll(self):
        if self.returncode is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.returncode = os.waitstatus_to_exitcode(status)
        return self.returncode

    def wait(self, timeout=None):
        deadline = None if timeout is None else time.monotonic() + timeout
        while self.poll() is None:
            if deadline is not None and time.monotonic() > deadline:
                raise subprocess.TimeoutExpired("kelvor", timeout)
            time.sleep(0.05)
        return self.returncode

    def terminate(self):
        if self.poll() is None:
            os.kill(self.pid, signal.SIGTERM)

    def kill(self):
        if self.poll() is None:
            os.kill(self.pid, signal.SIGKILL)


def _in_terminal(processes, argv, env, workdir, stdout=None, shell=None, ignored=()):
    """Kelvor with the pseudo-terminal as its controlling terminal and, unless `stdout` (a
    file descriptor) is given, as its standard output; or as a job of a stand-in shell.
    The signals `ignored` it starts with ignored, as nohup starts a program with SIGHUP."""
    pid, master = pty.fork()
    if pid == 0:
        try:
            if shell:
                _shell(argv, env, *shell)
            if stdout is not None:
                os.dup2(stdout, 1)
            for number in ignored:
                signal.signal(number, signal.SIG_IGN)
            _exec(argv, env)
        finally:
            os._exit(127)
    proc = _TerminalProcess(pid)
    processes._procs.append(proc)
    # The keys go in through the master; a duplicate is read for the output.
    return proc, Output(os.dup(master), os.path.join(workdir, "kelvor.log")), master


def _exec(argv, env):
    # Python ignores SIGPIPE, and exec keeps what is ignored; a shell starts programs with it
    # at its default.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    os.execve(argv[0], argv, env)


def _shell(argv, env, commands, test_end):
    """The terminal's session leader as a shell with job control: runs Kelvor as a job in
    the background (kelvor ... &), gives the terminal's foreground to it (f) or takes it back
    (any other byte) for each command, continuing it each time, and exits as it does."""
    os.close(test_end)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)  # it moves the foreground from the background
    job = os.fork()
    if job == 0:
        os.setpgid(0, 0)
        signal.signal(signal.SIGTTOU, signal.SIG_DFL)
        _exec(argv, env)
    signal.signal(signal.SIGTERM, lambda *_: (os.killpg(job, signal.SIGTERM), os._exit(1)))
    for command in iter(lambda: os.read(commands, 1), b""):
        os.tcsetpgrp(0, job if command == b"f" else os.getpgrp())
        os.killpg(job, signal.SIGCONT)
    os._exit(os.waitstatus_to_exitcode(os.waitpid(job, 0)[1]) & 0xFF)


def run_scenarios(config, rest):
    """Runs the scenarios of the calling script with `config`, or skips them all, with the
    reason, when a program they need is missing."""
    reason = config.missing()
    if reason:
        print(f"SKIPPED: {reason}")
        sys.exit(SKIP)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


def start_signals_at_default():
    """The programs a scenario starts get the stop signals at their default, as from an
    interactive shell, even where this runner was started with them ignored (nohup, a
    script's background job): Kelvor keeps a stop signal that arrives ignored. The runner
    itself stays as deaf to them as it was."""
    for number in (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM):
        if signal.getsignal(number) == signal.SIG_IGN:
            signal.signal(number, lambda *_: None)  # exec puts a caught signal at its default


class Config:
    """Which Kelvor to run and the simulators to run it against."""

    def __init__(self, kelvor, node, phone, wine=None):
        self.node_program = node
        self.phone_program = phone
        self.wine = wine
        self.command = [wine, kelvor] if wine else [kelvor]
        self.prefix = None
        self.start_timeout = 60  # for kelvor.exe to start under Wine, in seconds

    def missing(self):
        """Why the scenarios cannot run here, or None."""
        for program in (self.node_program, self.phone_program):
            if not os.access(program, os.X_OK):
                return (f"{program} is not built: build the Linux preset first "
                        "(cmake --preset linux && cmake --build --preset linux)")
        if self.wine:
            if subprocess.run([self.wine, "--which"], capture_output=True).returncode != 0:
                return "wine64 is not installed (apt-get install wine64): Windows scenarios skipped"
            self.prefix = _make_prefix(self.wine)
        return None

    def port_argument(self, phone, number, mode="9600,n,8,1"):
        """The phone's COM argument; without a `mode` the port keeps its own line settings."""
        name = f"COM{number}" if self.wine else f"COM:{phone.link or phone.device}"
        return f"{name}={mode}" if mode else name

    def com_link(self, number):
        return os.path.join(self.prefix, "dosdevices", f"com{number}") if self.wine else None

    def device_link(self, number, workdir):
        """A name that stays while the device behind it changes, as /dev/serial/by-id names
        do: the prefix's comN under Wine, a symbolic link in `workdir` on Linux."""
        return self.com_link(number) if self.wine else os.path.join(workdir, f"phone{number}")

    def link_argument(self, link, number):
        """The COM argument that opens the phone by the name `device_link` gave."""
        return f"COM{number}=9600,n,8,1" if self.wine else f"COM:{link}=9600,n,8,1"

    def file_argument(self, path):
        return "FILE=" + self.path(path)

    def spool_argument(self, path):
        return "SPOOL=" + self.path(path)

    def path(self, path):
        """A path of this machine as the program sees it."""
        return "Z:" + path.replace("/", "\\") if self.wine else path


def _make_prefix(wine):
    """The Wine prefix, made once even when several scenarios start together."""
    import fcntl
    lock_path = os.path.join(tempfile.gettempdir(), f"kelvor-wine-prefix-{os.getuid()}.lock")
    with open(lock_path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        done = subprocess.run([wine, "--prefix"], capture_output=True, text=True, timeout=300)
    return done.stdout.strip()
