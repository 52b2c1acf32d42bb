#!/usr/bin/env bash
# The library's exported face, read from the built file itself:
#
#   check_exports.sh LIBRARY [REFERENCE]
#
# LIBRARY is the Windows DLL (its export table, as objdump -p prints it) or
# the ELF shared library (its dynamic symbol table, nm -D). Fails when:
#   - it exports a symbol of what it hides: SQLite (sqlite3_*), libpq,
#     ODBC, or the backends' own namespaces
#     (Tessel::Sqlite::, Tessel::Postgres::, Tessel::Odbc::);
#   - REFERENCE (the same library built for Linux with the same pointer
#     width) is given and the two faces differ. Names are compared
#     demangled, with the spellings that only the platforms' integer types
#     tell apart made one (size_t is unsigned long on 64-bit Linux and
#     unsigned long long on 64-bit Windows; int64_t long and long long).
#     Template code the compiler instantiates on one platform only (std::,
#     __gnu_cxx::) is left out of the comparison.
# Prints the counts, and every difference.
set -euo pipefail
library=$1
reference=${2:-}

exports_of() {  # FILE -> mangled names, one a line
  local file=$1
  case "$(file -bL "$file")" in
    *PE32+*) x86_64-w64-mingw32-objdump -p "$file" ;;
    *PE32*) i686-w64-mingw32-objdump -p "$file" ;;
    *ELF*) nm -D --defined-only --extern-only "$file" | awk '{print "\t[ 0] " $3}' ;;
    *) echo "check_exports.sh: $file is neither a DLL nor an ELF library" >&2; return 1 ;;
  esac | awk '/^\t\[ *[0-9]+\] [^ ]+$/{print $NF}' | sed 's/@.*//' | sort -u
}

normalized() {  # mangled names -> demangled, platform spellings made one
  c++filt | sed -E 's/unsigned long long/unsigned long/g; s/long long/long/g; s/([0-9]+)(ull|ul|u)\b/\1/g' |
    grep -vE '^((void |bool )?std::|__gnu_cxx::|typeinfo|vtable for std::|_init$|_fini$|_edata$|_end$|__bss_start$)' |
    grep -vE 'std::__detail::' |
    # A class's private implementation (Impl, declared inside an exported
    # class): ELF gives such a nested class its enclosing class's default
    # visibility, a DLL exports only what is marked. Not the face.
    grep -vE '::Impl::' | sort -u
}

mine=$(exports_of "$library")
[ -n "$mine" ] || { echo "check_exports.sh: $library exports nothing" >&2; exit 1; }
status=0
foreign=$(printf '%s\n' "$mine" | c++filt |
  grep -E '^(sqlite3|PQ|pg_|SQL[A-Z])|Tessel::(Sqlite|Postgres|Odbc)::' || true)
if [ -n "$foreign" ]; then
  echo "check_exports.sh: $library exports what it should hide:"
  printf '%s\n' "$foreign" | head -20
  status=1
fi
face=$(printf '%s\n' "$mine" | normalized)
echo "check_exports.sh: $library exports $(printf '%s\n' "$mine" | wc -l) symbols ($(printf '%s\n' "$face" | wc -l) in the comparable face)"

if [ -n "$reference" ]; then
  if [ ! -f "$reference" ]; then
    echo "check_exports.sh: no reference library $reference"
    exit 1
  fi
  theirs=$(exports_of "$reference" | normalized)
  missing=$(comm -13 <(printf '%s\n' "$face") <(printf '%s\n' "$theirs"))
  extra=$(comm -23 <(printf '%s\n' "$face") <(printf '%s\n' "$theirs"))
  echo "check_exports.sh: reference $reference: $(printf '%s\n' "$theirs" | wc -l) symbols"
  if [ -n "$missing" ]; then
    echo "check_exports.sh: exported by the reference but not by $library:"
    printf '%s\n' "$missing" | sed 's/^/  /' | head -40
    status=1
  fi
  if [ -n "$extra" ]; then
    echo "check_exports.sh: exported by $library but not by the reference:"
    printf '%s\n' "$extra" | sed 's/^/  /' | head -40
    status=1
  fi
  [ "$status" -ne 0 ] || echo "check_exports.sh: the two faces are the same"
fi
exit "$status"
