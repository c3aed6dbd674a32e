#!/usr/bin/env bash
# Checks that the shipped kelvor.exe starts on the Windows of an old SCADA node (XP SP3 and
# later). The machines here run no 32-bit program, so the file is read, not run: its PE header,
# import table and code, through the cross toolchain's objdump. It fails, naming each fault,
# when
#   - it is not a 32-bit x86 program, or its header asks for a Windows newer than 5.1 (XP);
#   - it imports from a DLL other than KERNEL32.dll, msvcrt.dll, EDA.dll and FIXTOOLS.dll;
#   - EDA.dll is not imported by ordinals 37, 86 and 88 exactly, FIXTOOLS.dll by ordinal 72,
#     or either by name (the SCADA libraries are bound by ordinal only);
#   - a call into EDA.dll or FIXTOOLS.dll does not go through the piece that puts the stack
#     pointer back after the call (scada/scada_library_call.h), which makes the libraries'
#     calling convention, cdecl or stdcall, not matter; or an operation is never called
#     (tools/check-call-piece.py runs that piece and its callers under an emulator);
#   - it does not import GetConsoleMode and SetConsoleMode (QuickEdit is turned off with them);
#   - it imports from KERNEL32.dll or msvcrt.dll a function that is not on the list of what
#     those DLLs of Windows XP SP3 export (tools/windows-xp-exports.txt), or any by ordinal;
#   - it is larger than 300 KB.
#
#   tools/check-exe.sh [kelvor.exe]     default build/windows/app/kelvor.exe
# OBJDUMP names the objdump (default i686-w64-mingw32-objdump).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="${1:-$root/build/windows/app/kelvor.exe}"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
allowed_list="$root/tools/windows-xp-exports.txt"
max_bytes=300000

usage() { echo "check-exe: $*" >&2; exit 2; }
[ -f "$exe" ] || usage "no $exe (build it with: cmake --build --preset windows)"
command -v "$objdump" >/dev/null || usage "no $objdump (apt-get install binutils-mingw-w64-i686)"

faults=0
fault() { echo "FAIL: $*"; faults=$((faults + 1)); }

header=$("$objdump" -p "$exe")

# --- the file and its header
bytes=$(stat -c %s "$exe")
echo "$exe: $bytes bytes"
((bytes <= max_bytes)) || fault "$bytes bytes, more than 300 KB ($max_bytes bytes)"

format=$(grep -o 'file format .*' <<<"$header")
[ "$format" = "file format pei-i386" ] || fault "not a 32-bit x86 Windows program: $format"
field() { awk -v f="$1" '$1 == f { print $2; exit }' <<<"$header"; }
for kind in OSystem Subsystem; do
  major=$(field "Major${kind}Version") minor=$(field "Minor${kind}Version")
  echo "  ${kind/OSystem/OS} version $major.$minor"
  # XP's loader refuses a program whose header asks for a newer Windows.
  if ((major > 5 || (major == 5 && minor > 1))); then
    fault "the header's ${kind/OSystem/OS} version is $major.$minor: Windows XP is 5.1"
  fi
done

# --- the import table: one line per import, "DLL ordinal N SLOT" or "DLL name NAME SLOT",
# SLOT the address (hex) of its entry in the import address table, where the loader puts the
# function's address: the DLL's first thunk, then 4 bytes an entry in the order listed.
imports=$(awk -v base="$(field ImageBase)" '
  function hex(text,   i, value) {
    text = tolower(text)
    for (i = 1; i <= length(text); i++)
      value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
    return value
  }
  NF == 6 && /^ [0-9a-fA-F]+\t[0-9a-fA-F]+( [0-9a-fA-F]+)+$/ { thunk = hex($6); next }
  /^[ \t]*DLL Name: / { dll = $3; entry = 0; next }
  dll != "" && /^\t[0-9a-fA-F]+\t/ {
    slot = sprintf("%x", hex(base) + thunk + 4 * entry++)
    if ($3 == "<none>") print dll, "ordinal", $2, slot; else print dll, "name", $3, slot
    next
  }
  /^[ \t]*$/ && dll != "" { dll = "" }' <<<"$header")

echo "  imports:"
for dll in $(awk '{ print $1 }' <<<"$imports" | sort -fu); do
  of() { awk -v d="$dll" -v k="$1" '$1 == d && $2 == k { print $3 }' <<<"$imports"; }
  ordinals=$(of ordinal | sort -n | xargs)
  names=$(of name | sort | xargs)
  echo "    $dll${ordinals:+ by ordinal: $ordinals}${names:+, $(wc -w <<<"$names") by name:}"
  [ -z "$names" ] || fold -s -w 88 <<<"$names" | sed 's/ *$//; s/^/      /'
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll) ;;
    eda.dll | fixtools.dll)
      if [ "${dll,,}" = eda.dll ]; then want="37 86 88"; else want="72"; fi
      [ "$ordinals" = "$want" ] || fault "$dll imported by ordinals '$ordinals', not '$want'"
      [ -z "$names" ] || fault "$dll imported by name: $names"
      ;;
    *) fault "imports from $dll (only KERNEL32.dll, msvcrt.dll, EDA.dll and FIXTOOLS.dll may be)" ;;
  esac
done
for dll in EDA.dll FIXTOOLS.dll; do
  awk -v d="${dll,,}" 'tolower($1) == d { found = 1 } END { exit !found }' <<<"$imports" ||
    fault "does not import $dll at all"
done

# --- functions it must import: what turns the console's QuickEdit off for the run (a click
# in the window would otherwise hold every console write, and the alarms behind it)
for wanted in GetConsoleMode SetConsoleMode; do
  awk -v f="$wanted" 'tolower($1) == "kernel32.dll" && $2 == "name" && $3 == f { found = 1 }
    END { exit !found }' <<<"$imports" ||
    fault "KERNEL32.dll $wanted not imported: QuickEdit stays on, a click in the console holds the output"
done

# --- functions of Windows' own DLLs: only those XP SP3's export, each by its name
allowed=$(awk '
  { sub(/#.*/, "") }
  /^[ \t]*\[[^]]+\][ \t]*$/ { gsub(/[][ \t]/, ""); dll = tolower($0); next }
  dll != "" { for (i = 1; i <= NF; i++) print dll, $i }' "$allowed_list")
while read -r dll kind name _; do
  case "${dll,,}" in kernel32.dll | msvcrt.dll) ;; *) continue ;; esac
  if [ "$kind" = ordinal ]; then
    fault "$dll imported by ordinal $name: ordinals differ between Windows versions"
  elif ! grep -qxF "${dll,,} $name" <<<"$allowed"; then
    fault "$dll $name: not among the functions Windows XP SP3's $dll exports" \
      "(tools/windows-xp-exports.txt, which says how to add one that XP has)"
  fi
done <<<"$imports"

# --- every call into the SCADA libraries through the piece that puts the stack pointer back
# after the call: the code that loads an operation's address from its import slot calls the
# piece next, and nothing calls the slot directly. The piece is known by what it does: it
# keeps ESP in EBP (mov %esp,%ebp), and the instruction right after its indirect call is
# mov %ebp,%esp.
operations=$(awk 'tolower($1) ~ /^(eda|fixtools)\.dll$/ && $2 == "ordinal" {
  print $1 ":" $3 "=" $4 }' <<<"$imports" | xargs)
piece=$("$objdump" -d --no-show-raw-insn "$exe" | awk -v operations="$operations" '
  match($0, /^ *[0-9a-f]+:\t/) {
    n++
    at[n] = substr($0, 1, RLENGTH); gsub(/[ \t:]/, "", at[n]); line[at[n]] = n
    code[n] = substr($0, RLENGTH + 1); gsub(/ +/, " ", code[n]); sub(/ $/, "", code[n])
  }
  function refers(text, address,   where) {
    where = index(text, address)
    return where && substr(text, where + length(address), 1) !~ /[0-9a-f]/
  }
  function keeps_stack(target,   k, saved) {
    for (k = line[target]; k && k <= n && code[k] !~ /^ret/; k++) {
      if (code[k] == "mov %esp,%ebp") saved = 1
      if (saved && code[k] ~ /^call \*/ && code[k + 1] == "mov %ebp,%esp") return 1
    }
    return 0
  }
  function check(name, slot,   i, j, used, target) {
    for (i = 1; i <= n; i++) {
      if (!refers(code[i], slot)) continue
      used = 1
      if (code[i] ~ /^(call|jmp) \*/) {
        print "FAULT " name " called directly at 0x" at[i] ": " code[i]
        continue
      }
      for (j = i + 1; j <= n && j <= i + 16 && code[j] !~ /^(call|ret|jmp)/; j++) {}
      if (code[j] !~ /^call 0x[0-9a-f]+$/) {
        print "FAULT " name " loaded at 0x" at[i] " and not called through the piece"
        continue
      }
      target = substr(code[j], 8)
      if (keeps_stack(target)) pieces[target] = 1
      else print "FAULT " name " called at 0x" at[j] " through 0x" target ", which does not" \
                 " put the stack pointer back"
    }
    if (!used) print "FAULT " name " (import slot " slot ") is never called"
  }
  END {
    count = split(operations, list, " ")
    for (o = 1; o <= count; o++) {
      split(list[o], pair, "=")
      check(pair[1], "0x" pair[2])
    }
    for (target in pieces) print "PIECE 0x" target
  }')
while read -r kind text; do
  case "$kind" in
    FAULT) fault "${text/:/ ordinal }" ;;
    PIECE) echo "  calls into EDA.dll and FIXTOOLS.dll: through the stack-restoring piece at $text" ;;
  esac
done <<<"$piece"

if ((faults)); then
  echo "check-exe: $faults fault(s): $(basename "$exe") is not fit to ship to a Windows XP SP3 node"
  exit 1
fi
echo "check-exe: OK, $(basename "$exe") needs nothing that Windows XP SP3 lacks"
