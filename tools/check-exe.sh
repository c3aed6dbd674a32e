#!/usr/bin/env bash
# Checks that the shipped kelvor.exe starts on the Windows of an old SCADA node (XP SP3 and
# later). The machines here run no 32-bit program, so the file is read, not run: its PE header
# and import table, through the cross toolchain's objdump. It fails, naming each fault, when
#   - it is not a 32-bit x86 program, or its header asks for a Windows newer than 5.1 (XP);
#   - it imports from a DLL other than KERNEL32.dll, msvcrt.dll, EDA.dll and FIXTOOLS.dll;
#   - EDA.dll is not imported by ordinals 37, 86 and 88 exactly, FIXTOOLS.dll by ordinal 72,
#     or either by name (the SCADA libraries are bound by ordinal only);
#   - it does not import GetConsoleMode and SetConsoleMode (QuickEdit is turned off with them);
#   - it imports a function that Windows XP SP3 lacks (tools/not-on-windows-xp.txt);
#   - it is larger than 300 KB.
#
#   tools/check-exe.sh [kelvor.exe]     default build/windows/app/kelvor.exe
# OBJDUMP names the objdump (default i686-w64-mingw32-objdump).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="${1:-$root/build/windows/app/kelvor.exe}"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
missing_list="$root/tools/not-on-windows-xp.txt"
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

# --- the import table: one line per import, "DLL ordinal N" or "DLL name NAME"
imports=$(awk '
  /^[ \t]*DLL Name: / { dll = $3; next }
  dll != "" && /^\t[0-9a-fA-F]+\t/ {
    if ($3 == "<none>") print dll, "ordinal", $2; else print dll, "name", $3
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

# --- functions that XP lacks: each imported name against each entry of its DLL's groups
group_dll="" group_source=""
while read -r line; do
  line="${line%%#*}"
  line="${line%"${line##*[![:space:]]}"}"
  [ -n "$line" ] || continue
  if [[ "$line" =~ ^\[([^]]+)\][[:space:]]*(.*)$ ]]; then
    group_dll=${BASH_REMATCH[1],,} group_source=${BASH_REMATCH[2]}
    continue
  fi
  while read -r dll kind name; do
    # The entry is a pattern: unquoted on the right of ==.
    if [ "$kind" = name ] && [ "${dll,,}" = "$group_dll" ] && [[ "$name" == $line ]]; then
      fault "$dll $name: not in Windows XP SP3 ($group_source)"
    fi
  done <<<"$imports"
done <"$missing_list"

if ((faults)); then
  echo "check-exe: $faults fault(s): $(basename "$exe") is not fit to ship to a Windows XP SP3 node"
  exit 1
fi
echo "check-exe: OK, $(basename "$exe") needs nothing that Windows XP SP3 lacks"
