#!/usr/bin/env python3
"""Runs the shipped kelvor.exe's stack-restoring piece under the Unicorn CPU emulator.

kelvor.exe calls every operation of EDA.dll and FIXTOOLS.dll through one small piece of i386
code (KelvorCallKeepingStack, scada/scada_library_call_i386.cpp) that puts the stack pointer
back after the call, so that cdecl and stdcall operations both leave the stack as the program
expects. tools/check-exe.sh reads the code; this runs it, taken from the exe itself:

  - the piece is found as check-exe.sh finds it: the code that loads an operation's address
    from its import slot calls the piece next. The exe's sections are mapped at their
    addresses, and the piece is run with callees of a few bytes of i386 code, cdecl (`ret`)
    and stdcall (`ret 4*n`), of 0 to 6 arguments. After it, ESP must be where a cdecl caller
    expects it, the arguments must have reached the callee in order, EAX must be the
    callee's result and EBX, ESI, EDI and EBP must be as they were.
  - each of the exe's callers of the piece is run whole, from its first instruction (its
    start taken from the exe's .eh_frame) to its return, with its operation's import slot
    pointing at such a callee, cdecl and then stdcall, of the operation's number of
    arguments (scada/scada_libraries.cmake). The piece must be given that number and the
    callee must get them; right after the piece, ESP and the callee-saved registers must be
    as at the call and EAX the callee's result; and the caller must return to its own caller
    with ESP moved by its own `ret` and the callee-saved registers kept. A caller that goes
    on to call another import is stopped there (nothing in the check stands for the import),
    after the checks of its call of the piece.

--self-test makes copies of the exe, each with one instruction of the piece replaced by NOPs,
and fails unless the check passes on the exe and fails on every copy.

  tools/check-call-piece.py [--self-test] [kelvor.exe]   default build/windows/app/kelvor.exe

OBJDUMP names the objdump (default i686-w64-mingw32-objdump). Exit status 0 when it passes,
1 on a fault, 2 on a wrong command line or no exe, 77 without python3-unicorn.
"""

import os
import re
import struct
import subprocess
import sys
import tempfile

try:
    import unicorn
    from unicorn import x86_const as x86
except ImportError:
    # Debian's python3-unicorn is for Debian's own python3, which may not be first in PATH.
    if os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") and \
            os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("check-call-piece: no Unicorn for Python (apt-get install python3-unicorn)",
          file=sys.stderr)
    sys.exit(77)  # the check could not run: tools/test.sh says so and skips it

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")

# Emulated memory besides the image: the stack, data the runs hand over, the callees.
STACK, STACK_SIZE = 0x01000000, 0x00100000
DATA, DATA_SIZE = 0x02000000, 0x00100000
STUBS, STUBS_SIZE = 0x03000000, 0x00010000
RETURN = STUBS + 0xF000  # the return address a run starts with; reaching it ends the run
TRAP = STUBS + 0xE000  # where the other imports lead, one byte each: a run that calls one stops
MAX_INSTRUCTIONS = 200000

# Registers the callee and the piece must keep, and values no run would make by chance.
KEPT = {"ebx": 0x0B0B0B0B, "esi": 0x05150515, "edi": 0x0D1D0D1D, "ebp": 0x0B0E0B0E}
REG = {"eax": x86.UC_X86_REG_EAX, "ebx": x86.UC_X86_REG_EBX, "ecx": x86.UC_X86_REG_ECX,
       "edx": x86.UC_X86_REG_EDX, "esi": x86.UC_X86_REG_ESI, "edi": x86.UC_X86_REG_EDI,
       "ebp": x86.UC_X86_REG_EBP, "esp": x86.UC_X86_REG_ESP, "eip": x86.UC_X86_REG_EIP,
       "eflags": x86.UC_X86_REG_EFLAGS}
# IF set, ZF clear: a piece that tests flags it did not set sees them as a caller might leave them.
EFLAGS = 0x202


class Exe:
    """The parts of a 32-bit PE file the check needs, read with struct."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not a PE file (no MZ)")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file (no PE signature)")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        if machine != 0x14C:
            raise ValueError("not a 32-bit x86 program (machine 0x%x)" % machine)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x10B:
            raise ValueError("not a PE32 optional header")
        self.base = struct.unpack_from("<I", data, optional + 28)[0]
        self.image_size, self.headers_size = struct.unpack_from("<II", data, optional + 56)
        directories = struct.unpack_from("<I", data, optional + 92)[0]
        self.import_rva = 0  # the second data directory, the import table
        if directories > 1:
            self.import_rva = struct.unpack_from("<I", data, optional + 96 + 8)[0]
        self.sections = []  # (name, virtual address, virtual size, file offset, file size)
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), self.base + rva, vsize,
                                  raw_at, raw_size))

    def offset(self, address):
        """The file offset of a virtual address in a section's file data."""
        for _, start, vsize, raw_at, raw_size in self.sections:
            if start <= address < start + min(vsize, raw_size):
                return raw_at + address - start
        raise ValueError("0x%x is in no section's file data" % address)

    def u32(self, address):
        return struct.unpack_from("<I", self.data, self.offset(address))[0]

    def cstring(self, address):
        at = self.offset(address)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """(dll, ordinal or None, name or None, slot address) for each import."""
        found = []
        descriptor = self.base + self.import_rva
        while self.import_rva:
            lookup, _, _, name, thunk = struct.unpack_from("<5I", self.data,
                                                           self.offset(descriptor))
            if not (lookup or name or thunk):
                break
            dll = self.cstring(self.base + name)
            entry = self.base + (lookup or thunk)
            slot = self.base + thunk
            while True:
                value = self.u32(entry)
                if not value:
                    break
                if value & 0x80000000:
                    found.append((dll, value & 0xFFFF, None, slot))
                else:
                    found.append((dll, None, self.cstring(self.base + value + 2), slot))
                entry += 4
                slot += 4
            descriptor += 20
        return found

    def functions(self):
        """(start, end) of each function that .eh_frame describes."""
        section = [s for s in self.sections if s[0].startswith(".eh_fram")]
        if not section:
            return []
        _, start, vsize, raw_at, raw_size = section[0]
        data = self.data[raw_at:raw_at + min(vsize, raw_size)]
        encodings = {}  # a CIE's offset -> how its FDEs give their addresses
        ranges = []
        at = 0
        while at + 8 <= len(data):
            length, cie_id = struct.unpack_from("<II", data, at)
            if length == 0:
                break
            body = at + 4
            if cie_id == 0:
                encodings[at] = cie_encoding(data, body + 4)
            else:
                encoding = encodings.get(body - cie_id)
                if encoding is not None:
                    begin, used = read_pointer(data, body + 4, encoding, start + body + 4)
                    size, _ = read_pointer(data, body + 4 + used, encoding & 0x0F, 0)
                    ranges.append((begin, begin + size))
            at = body + length
        return ranges


def uleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def read_pointer(data, at, encoding, address):
    """A DWARF-encoded pointer at `at` (whose address is `address`): value and bytes used."""
    form = encoding & 0x0F
    formats = {0x00: "<I", 0x03: "<I", 0x0B: "<i", 0x02: "<H", 0x0A: "<h"}
    if form not in formats:
        raise ValueError("pointer encoding 0x%x in .eh_frame not read" % encoding)
    value = struct.unpack_from(formats[form], data, at)[0]
    if encoding & 0x70 == 0x10:
        value += address
    return value & 0xFFFFFFFF, struct.calcsize(formats[form])


def cie_encoding(data, at):
    """The FDE pointer encoding a CIE (its version byte at `at`) gives, absolute by default."""
    version = data[at]
    end = data.index(b"\0", at + 1)
    augmentation = data[at + 1:end].decode("latin-1")
    at = end + 1
    _, at = uleb(data, at)  # code alignment
    _, at = uleb(data, at)  # data alignment (signed; only skipped)
    at = at + 1 if version == 1 else uleb(data, at)[1]  # return address register
    if not augmentation.startswith("z"):
        return 0x00
    _, at = uleb(data, at)
    for letter in augmentation[1:]:
        if letter == "R":
            return data[at]
        if letter == "P":
            at += 1 + read_pointer(data, at + 1, data[at] & 0x0F, 0)[1]
        elif letter == "L":
            at += 1
    return 0x00


def operation_arguments():
    """{(dll, ordinal): number of arguments} from the build's list of the libraries' operations."""
    text = open(os.path.join(ROOT, "scada", "scada_libraries.cmake")).read()
    found = {}
    for dll, block in re.findall(r"set\(KELVOR_(EDA|FIXTOOLS)_OPERATIONS(.*?)\)", text, re.S):
        for _, ordinal, size in re.findall(r'"(\w+) (\d+) (\d+)"', block):
            found[(dll.lower() + ".dll", int(ordinal))] = int(size) // 4
    if not found:
        raise ValueError("no operations in scada/scada_libraries.cmake")
    return found


def disassemble(path):
    """[(address, instruction text)] of the code, as tools/check-exe.sh reads it."""
    out = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", path], check=True,
                         capture_output=True, text=True).stdout
    code = []
    for line in out.splitlines():
        match = re.match(r"^ *([0-9a-f]+):\t(.*)$", line)
        if match:
            code.append((int(match.group(1), 16), re.sub(r" +", " ", match.group(2)).strip()))
    return code


def call_sites(code, slots):
    """[(slot, address of the call of the piece, piece, return address)]: as in check-exe.sh,
    each place that loads an operation from its slot and the call it makes next; and the
    faults of places that load one and make no such call, or of a slot never used."""
    sites, faults = [], []
    for slot in slots:
        pattern = re.compile(r"0x%x(?![0-9a-f])" % slot)
        for i, (_, text) in enumerate(code):
            if not pattern.search(text) or re.match(r"(call|jmp) \*", text):
                continue  # a direct call of the slot is check-exe.sh's to report
            j = i + 1
            while j < len(code) and j <= i + 16 and not re.match(r"(call|ret|jmp)", code[j][1]):
                j += 1
            match = j + 1 < len(code) and re.match(r"call 0x([0-9a-f]+)$", code[j][1])
            if match:
                sites.append((slot, code[j][0], int(match.group(1), 16), code[j + 1][0]))
            else:
                faults.append("the operation of slot 0x%x is loaded at 0x%x and not called "
                              "through a piece" % (slot, code[i][0]))
        if not any(site[0] == slot for site in sites):
            faults.append("the operation of slot 0x%x is never called through a piece" % slot)
    return sites, faults


def instructions_from(code, start):
    """The instructions from `start` through the first `ret`: [(address, size, text)]."""
    found = []
    index = {address: i for i, (address, _) in enumerate(code)}
    i = index.get(start)
    while i is not None and i + 1 < len(code):
        address, text = code[i]
        found.append((address, code[i + 1][0] - address, text))
        if text.startswith("ret"):
            return found
        i += 1
    raise ValueError("no ret after 0x%x" % start)


def callee(result, stdcall, count):
    """i386 code of an operation that returns `result`, overwrites ECX and EDX as it may, and
    returns cdecl (`ret`) or stdcall (`ret 4*count`)."""
    code = b"\xb8" + struct.pack("<I", result)  # mov $result, %eax
    code += b"\xb9\xc5\xc5\xc5\xc5\xba\xd5\xd5\xd5\xd5"  # mov $..., %ecx; mov $..., %edx
    return code + (b"\xc2" + struct.pack("<H", 4 * count) if stdcall and count else b"\xc3")


class Machine:
    """The exe's image in a fresh emulated i386, with a stack, data room and callees."""

    def __init__(self, exe):
        self.uc = unicorn.Uc(unicorn.UC_ARCH_X86, unicorn.UC_MODE_32)
        size = (exe.image_size + 0xFFF) & ~0xFFF
        self.uc.mem_map(exe.base, size)
        self.uc.mem_write(exe.base, exe.data[:exe.headers_size])
        for _, start, vsize, raw_at, raw_size in exe.sections:
            self.uc.mem_write(start, exe.data[raw_at:raw_at + min(vsize, raw_size)])
        for start, length in ((STACK, STACK_SIZE), (DATA, DATA_SIZE), (STUBS, STUBS_SIZE)):
            self.uc.mem_map(start, length)
        self.uc.mem_write(TRAP, b"\xf4" * 0x1000)  # hlt: never run, the hook stops first
        self.imports = exe.imports()
        self.data_free = DATA
        self.stub_free = STUBS
        self.calls = []  # each callee entry: (callee address, ESP, first 8 stack words)
        self.stopped_at = None  # the import a run stopped at
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self._trap, begin=TRAP, end=TRAP + 0xFFF)

    def _trap(self, uc, address, size, _):
        if address - TRAP < len(self.imports):
            dll, ordinal, name, _ = self.imports[address - TRAP]
            self.stopped_at = "%s %s" % (dll, name or "ordinal %d" % ordinal)
        else:
            self.stopped_at = "0x%x, no import" % address
        uc.emu_stop()

    def reg(self, name, value=None):
        if value is None:
            return self.uc.reg_read(REG[name])
        self.uc.reg_write(REG[name], value)

    def u32(self, address):
        return struct.unpack("<I", self.uc.mem_read(address, 4))[0]

    def words(self, address, count):
        return list(struct.unpack("<%dI" % count, self.uc.mem_read(address, 4 * count)))

    def put(self, data):
        """Data in the data room, 16-byte aligned: its address."""
        address = self.data_free
        self.uc.mem_write(address, data)
        self.data_free += (len(data) + 15) & ~15
        return address

    def add_callee(self, result, stdcall, count):
        address = self.stub_free
        self.uc.mem_write(address, callee(result, stdcall, count))
        self.stub_free += 32

        def entered(uc, at, size, _):
            esp = self.reg("esp")
            self.calls.append((at, esp, self.words(esp, 8)))

        self.uc.hook_add(unicorn.UC_HOOK_CODE, entered, begin=address, end=address)
        return address

    def run(self, start, esp, registers):
        """Runs from `start` with ESP `esp` (its word the return address RETURN) until RETURN:
        None, or why the run did not get there."""
        self.reg("esp", esp)
        for name, value in registers.items():
            self.reg(name, value)
        self.reg("eflags", EFLAGS)
        try:
            self.uc.emu_start(start, RETURN, count=MAX_INSTRUCTIONS)
        except unicorn.UcError as error:
            return "stopped at 0x%x: %s" % (self.reg("eip"), error)
        if self.stopped_at is not None:
            return None
        if self.reg("eip") != RETURN:
            return "had not returned after %d instructions (at 0x%x)" % (MAX_INSTRUCTIONS,
                                                                       self.reg("eip"))
        return None


def check_piece(exe, piece, stdcall, count):
    """The piece called with `count` arguments for a callee of that convention: its faults."""
    m = Machine(exe)
    result = 0x600DF00D + count
    operation = m.add_callee(result, stdcall, count)
    arguments = [0xA0000000 + 0x01010101 * (i + 1) for i in range(count)]
    array = m.put(struct.pack("<%dI" % (count + 1), *(arguments + [0xFEEDFACE])))
    # The caller's frame: RETURN, then the piece's three arguments, then words it must not touch.
    frame = [RETURN, operation, array, count] + [0xCA11E500 + i for i in range(8)]
    esp = STACK + STACK_SIZE - 0x1000
    m.uc.mem_write(esp, struct.pack("<%dI" % len(frame), *frame))
    faults = []
    why = m.run(piece, esp, dict(KEPT, eax=0xEAEAEAEA, ecx=0x0C0C0C0C, edx=0x0D0D0D0D))
    if why:
        return [why]
    if len(m.calls) != 1:
        faults.append("the callee was called %d times, not once" % len(m.calls))
    else:
        stack = m.calls[0][2]
        if stack[1:1 + count] != arguments:
            faults.append("the callee got %s, not the arguments %s in order" % (
                hexes(stack[1:1 + count]), hexes(arguments)))
    if m.reg("esp") != esp + 4:
        faults.append("ESP is 0x%x after it, not 0x%x (%+d bytes)" % (
            m.reg("esp"), esp + 4, m.reg("esp") - esp - 4))
    if m.reg("eax") != result:
        faults.append("EAX is 0x%x, not the callee's result 0x%x" % (m.reg("eax"), result))
    faults += kept_faults(m, KEPT, "after it")
    if m.words(esp, len(frame)) != frame:
        faults.append("it changed its caller's frame: %s" % hexes(m.words(esp, len(frame))))
    return faults


def kept_faults(m, expected, when):
    return ["%s is 0x%x %s, not 0x%x" % (name.upper(), m.reg(name), when, value)
            for name, value in expected.items() if m.reg(name) != value]


def check_caller(exe, code, site, function, slots, stdcall):
    """One caller of the piece run whole: (faults, a note on how far it ran)."""
    slot, call_at, _, back = site
    m = Machine(exe)
    count = slots[slot]
    result = 0x5EC0ED00 + count
    operation = m.add_callee(result, stdcall, count)
    for i, (_, _, _, other) in enumerate(m.imports):
        m.uc.mem_write(other, struct.pack("<I", operation if other == slot else TRAP + i))
    # Whatever the caller takes, this (ECX), its stack arguments and EDX point at zeroed room.
    pointers = [m.put(bytes(0x1000)) for _ in range(10)]
    esp = STACK + STACK_SIZE - 0x1000
    frame = [RETURN] + pointers[2:]
    m.uc.mem_write(esp, struct.pack("<%dI" % len(frame), *frame))
    seen = {}

    def at_call(uc, address, size, _):
        seen["call"] = {name: m.reg(name) for name in ("esp", "ebx", "esi", "edi", "ebp")}
        sp = m.reg("esp")
        target, array, given = m.words(sp, 3)
        seen["given"] = (target, given, m.words(array, min(given, 16)))

    def after_call(uc, address, size, _):
        seen["after"] = {name: m.reg(name) for name in ("esp", "ebx", "esi", "edi", "ebp", "eax")}

    m.uc.hook_add(unicorn.UC_HOOK_CODE, at_call, begin=call_at, end=call_at)
    m.uc.hook_add(unicorn.UC_HOOK_CODE, after_call, begin=back, end=back)
    why = m.run(function[0], esp, dict(KEPT, eax=0xEAEAEAEA, ecx=pointers[0], edx=pointers[1]))
    faults = [why] if why else []
    if m.stopped_at is not None and "call" not in seen:
        faults.append("it called %s before the piece, and the check runs no import but the "
                      "piece's operation" % m.stopped_at)
    if "call" not in seen:
        return faults + ["it never reached its call of the piece at 0x%x" % call_at], ""
    target, given, words = seen["given"]
    if target != operation:
        faults.append("it gave the piece 0x%x, not the operation from its slot" % target)
    if given != count:
        faults.append("it gave the piece %d arguments; the operation takes %d" % (given, count))
    calls = [c for c in m.calls if c[0] == operation]
    if len(calls) != 1:
        faults.append("the operation was called %d times, not once" % len(calls))
    elif calls[0][2][1:1 + given] != words[:given]:
        faults.append("the operation got %s, not %s in order" % (
            hexes(calls[0][2][1:1 + given]), hexes(words[:given])))
    after = seen.get("after")
    if after is None:
        return faults + ["the piece did not return to it at 0x%x" % back], ""
    if after["esp"] != seen["call"]["esp"]:
        faults.append("ESP after the piece is %+d bytes off" % (after["esp"] - seen["call"]["esp"]))
    for name in ("ebx", "esi", "edi", "ebp"):
        if after[name] != seen["call"][name]:
            faults.append("%s is 0x%x after the piece, not 0x%x" % (
                name.upper(), after[name], seen["call"][name]))
    if after["eax"] != result:
        faults.append("EAX after the piece is 0x%x, not the operation's 0x%x" % (
            after["eax"], result))
    if m.stopped_at is not None:
        return faults, "; stopped after the piece, at its call of %s" % m.stopped_at
    if why:
        return faults, ""
    pops = {int(t[5:], 16) if t.startswith("ret $0x") else 0
            for a, t in code if function[0] <= a < function[1] and re.match(r"ret( |$)", t)}
    if len(pops) != 1:
        faults.append("its returns take different amounts off the stack: %s" % sorted(pops))
    elif m.reg("esp") != esp + 4 + pops.pop():
        faults.append("ESP is %+d bytes off after it returns" % (m.reg("esp") - esp - 4))
    faults += kept_faults(m, KEPT, "after it returns")
    return faults, ""


def hexes(values):
    return "[" + " ".join("%x" % v for v in values) + "]"


def check(path, quiet=False):
    """The whole check of one exe: its faults (an empty list when it passes)."""
    say = (lambda *a: None) if quiet else print
    exe = Exe(open(path, "rb").read())
    arguments = operation_arguments()
    slots = {}  # import slot -> number of arguments of its operation
    for dll, ordinal, _, slot in exe.imports():
        if (dll.lower(), ordinal) in arguments:
            slots[slot] = arguments[(dll.lower(), ordinal)]
    if len(slots) != len(arguments):
        return ["it imports %d of the %d SCADA operations by ordinal" % (
            len(slots), len(arguments))]
    code = disassemble(path)
    sites, faults = call_sites(code, slots)
    functions = exe.functions()
    for piece in sorted({site[2] for site in sites}):
        body = instructions_from(code, piece)
        say("  the piece at 0x%x, %d instructions, %d callers" % (
            piece, len(body), sum(1 for s in sites if s[2] == piece)))
        for stdcall in (False, True):
            for count in range(7):
                for fault in check_piece(exe, piece, stdcall, count):
                    faults.append("the piece at 0x%x, %s callee of %d arguments: %s" % (
                        piece, "stdcall" if stdcall else "cdecl", count, fault))
        say("    run with cdecl and stdcall callees of 0 to 6 arguments")
    for site in sites:
        slot, call_at = site[0], site[1]
        function = [f for f in functions if f[0] <= call_at < f[1]]
        if not function:
            faults.append("the caller of the piece at 0x%x is not in .eh_frame" % call_at)
            continue
        notes = set()
        for stdcall in (False, True):
            found, note = check_caller(exe, code, site, function[0], slots, stdcall)
            notes.add(note)
            faults += ["the caller at 0x%x (slot 0x%x), %s: %s" % (
                function[0][0], slot, "stdcall" if stdcall else "cdecl", f) for f in found]
        say("  the caller at 0x%x (slot 0x%x, %d arguments): run whole, cdecl and stdcall%s" % (
            function[0][0], slot, slots[slot], "".join(sorted(notes))))
    return faults


def self_test(path):
    """The check passes on the exe and fails on each copy with one piece instruction NOPed."""
    if check(path, quiet=True):
        print("check-call-piece: the check fails on %s itself; the self-test needs a good exe"
              % path)
        return 1
    data = open(path, "rb").read()
    exe = Exe(data)
    code = disassemble(path)
    slots = [slot for dll, ordinal, _, slot in exe.imports()
             if (dll.lower(), ordinal) in operation_arguments()]
    missed = 0
    with tempfile.TemporaryDirectory() as directory:
        for piece in sorted({site[2] for site in call_sites(code, slots)[0]}):
            for address, size, text in instructions_from(code, piece):
                broken = bytearray(data)
                at = exe.offset(address)
                broken[at:at + size] = b"\x90" * size
                copy = os.path.join(directory, "broken.exe")
                open(copy, "wb").write(broken)
                faults = check(copy, quiet=True)
                if faults:
                    print("  without %-30s at 0x%x: fails, %d fault(s), first: %s" % (
                        "'" + text + "'", address, len(faults), faults[0]))
                else:
                    print("  without %-30s at 0x%x: PASSES" % ("'" + text + "'", address))
                    missed += 1
    if missed:
        print("check-call-piece: self-test FAILED: %d broken piece(s) pass the check" % missed)
        return 1
    print("check-call-piece: self-test OK, every piece with one instruction removed fails")
    return 0


def main(argv):
    args = [a for a in argv if a != "--self-test"]
    if len(args) > 1 or any(a.startswith("-") for a in args):
        print("usage: " + __doc__.strip().split("\n\n")[-2].strip(), file=sys.stderr)
        return 2
    path = args[0] if args else os.path.join(ROOT, "build", "windows", "app", "kelvor.exe")
    if not os.path.isfile(path):
        print("check-call-piece: no %s (build it with: cmake --build --preset windows)" % path,
              file=sys.stderr)
        return 2
    if "--self-test" in argv:
        print("%s: the check on copies with one instruction of the piece removed" % path)
        return self_test(path)
    print("%s: the stack-restoring piece and its callers under Unicorn" % path)
    faults = check(path)
    for fault in faults:
        print("FAIL: " + fault)
    if faults:
        print("check-call-piece: %d fault(s)" % len(faults))
        return 1
    print("check-call-piece: OK, the SCADA operations leave the stack as the program expects")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
