#!/bin/sh
# Checks the facts that make the built library load on old and new systems
# alike. Usage: check-deliverable.sh LIBRARY x86_64|i386 EXPORTED-SYMBOL...
set -u
lib=$1 arch=$2
shift 2
failures=0

check() { # description, then a command that must succeed
	what=$1
	shift
	if "$@"; then
		echo "ok: $what"
	else
		echo "FAILED: $what"
		failures=$((failures + 1))
	fi
}

case $arch in
x86_64) class=ELF64 machine='Advanced Micro Devices X86-64' ;;
i386) class=ELF32 machine='Intel 80386' ;;
*) echo "unknown architecture $arch" >&2; exit 2 ;;
esac

header=$(readelf -hW "$lib") || exit 1
dynamic=$(readelf -dW "$lib")
segments=$(readelf -lW "$lib")

has_line() { printf '%s\n' "$1" | grep -qE "$2"; }
lacks_line() { ! has_line "$@"; }

newest_glibc() {
	objdump -T "$lib" | grep -oE 'GLIBC_[0-9]+(\.[0-9]+)*' | sed 's/GLIBC_//' | sort -uV | tail -n 1
}
at_most() { # version, limit
	[ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$2" ]
}
exported() {
	nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "W" || $2 == "i" { print $3 }' | sort
}
expected=$(printf '%s\n' "$@" | sort)

check "$class" has_line "$header" "Class: +$class\$"
check "$machine" has_line "$header" "Machine: +$machine\$"
check "no shared-object name" lacks_line "$dynamic" '\(SONAME\)'
check "needs libc.so.6 alone" test "$(printf '%s\n' "$dynamic" | grep '(NEEDED)')" != "" -a \
	"$(printf '%s\n' "$dynamic" | grep '(NEEDED)' | grep -vc '\[libc\.so\.6\]')" = 0
check "no text relocations" lacks_line "$dynamic" '\(TEXTREL\)|TEXTREL'
check "stack not executable" has_line "$segments" 'GNU_STACK( +0x[0-9a-f]+){5} +RW '
glibc=$(newest_glibc)
check "symbol versions at most GLIBC_2.3 (newest: $glibc)" at_most "$glibc" 2.3
check "a .hash section beside .gnu.hash, for the loaders before glibc 2.5" test "$(readelf -SW "$lib" | grep -cE ' \.(gnu\.)?hash ')" = 2
check "exports exactly: $*" test "$(exported)" = "$expected"
if [ "$(exported)" != "$expected" ]; then
	echo "exported:"
	exported
fi

[ "$failures" -eq 0 ]
