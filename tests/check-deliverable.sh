#!/bin/sh
# Checks the facts that make the built library load on old and new systems
# alike, and loads it as a C program does: with this system's loader, with
# DT_HASH alone, and with musl's loader.
# Usage: check-deliverable.sh LIBRARY CLASS:MACHINE GLIBC LOADER MUSL-LOADER|- FAKE-HAL-BIN
#        TOOL TOOL-OBJECT QEMU:CPU:ARCH|QEMU:- EXPORTED-SYMBOL...
#   CLASS:MACHINE, GLIBC (the newest symbol version allowed), QEMU and
#   CPU:ARCH are those of the target's row in targets.txt; the loaders are
#   tests/loader.c, built for glibc and for musl; TOOL is hal-get-property,
#   TOOL-OBJECT its own code, compiled.
#   LOADER_RUNNER, where set, is the command that runs the build's programs
#   (an emulated build's root).
set -u
lib=$1 elf=$2 glibc_floor=$3 loader=$4 musl_loader=$5 fake_bin=$6 tool=$7 tool_object=$8 oldest=$9
shift 9
. "$(dirname "$0")/checks.sh"
class=${elf%%:*} machine=${elf#*:}

header=$(readelf -hW "$lib") || exit 1
dynamic=$(readelf -dW "$lib")
segments=$(readelf -lW "$lib")

has_line() { printf '%s\n' "$1" | grep -qE "$2"; }
lacks_line() { ! has_line "$@"; }

newest_glibc() {
	objdump -T "$lib" | grep -oE 'GLIBC_[0-9]+(\.[0-9]+)*' | sed 's/GLIBC_//' | sort -uV | tail -n 1
}
at_most() { # version (none is a failure), limit
	[ -n "$1" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$2" ]
}
exported() {
	nm -D --defined-only "$lib" | awk '$2 == "T" || $2 == "W" || $2 == "i" { print $3 }' | sort
}
expected=$(printf '%s\n' "$@" | sort)

check "$class" has_line "$header" "Class: +$class\$"
check "$machine" has_line "$header" "Machine: +(.* )?$machine\$"
check "no shared-object name" lacks_line "$dynamic" '\(SONAME\)'
check "needs libc.so.6 alone" test "$(printf '%s\n' "$dynamic" | grep '(NEEDED)')" != "" -a \
	"$(printf '%s\n' "$dynamic" | grep '(NEEDED)' | grep -vc '\[libc\.so\.6\]')" = 0
check "no text relocations" lacks_line "$dynamic" '\(TEXTREL\)|TEXTREL'
check "stack not executable" has_line "$segments" 'GNU_STACK( +0x[0-9a-f]+){5} +RW '
glibc=$(newest_glibc)
check "symbol versions at most GLIBC_$glibc_floor (newest: $glibc)" at_most "$glibc" "$glibc_floor"
check "a .hash section beside .gnu.hash, for the loaders before glibc 2.5" test "$(readelf -SW "$lib" | grep -cE ' \.(gnu\.)?hash ')" = 2
check "exports exactly: $*" test "$(exported)" = "$expected"
if [ "$(exported)" != "$expected" ]; then
	echo "exported:"
	exported
fi

# The set-group-ID tool is hardened as Debian's set-ID programs are: its
# functions with buffers check a canary, and on x86 its code is built for
# CET (the static program is not marked for it: not all of libc.a is).
check "the tool's code has a stack protector" has_line "$(nm "$tool_object")" ' U __stack_chk_fail$'
case $machine in X86-64 | 80386)
	check "the tool's code is built for CET" has_line "$(readelf -n "$tool_object")" 'x86 feature: IBT, SHSTK'
	;;
esac

# The loaders of glibc before 2.5 know DT_HASH alone: a copy whose
# DT_GNU_HASH entry has another tag (0x6ffffe00, which no loader reads; it
# differs from 0x6ffffef5 in its lowest byte) must load and answer too. The
# tag fills the first half of its entry; a big-endian file (s390x) keeps its
# lowest byte last.
hide_gnu_hash() { # library, copy
	cp "$1" "$2"
	section=$(readelf -SW "$1" | awk '{ for (i = 1; i < NF; i++) if ($i == "DYNAMIC") print $(i + 2), $(i + 4) }')
	offset=0x${section% *} size=0x${section#* }
	index=$(readelf -dW "$1" | awk '/^ *0x/ { if ($2 == "(GNU_HASH)") { print n; exit } n++ }')
	lowest=0
	contains "$header" "big endian" && lowest=$((size / 2 - 1))
	[ -n "$index" ] && printf '\000' |
		dd of="$2" bs=1 seek=$((offset + index * size + lowest)) conv=notrunc status=none
}
FAKE_HAL_DIR=$(mktemp -d) || exit 1
export FAKE_HAL_DIR PATH="$fake_bin:$PATH"
trap 'rm -rf "$FAKE_HAL_DIR"' EXIT
printf ' LOADED-UUID \n' >"$FAKE_HAL_DIR/system.hardware.uuid"
printf 'LOADED-SERIAL\n' >"$FAKE_HAL_DIR/smbios.system.serial"
answers=$(printf 'LOADED-UUID\nLOADED-SERIAL')
hash_only=$FAKE_HAL_DIR/libosidentity.so
hide_gnu_hash "$lib" "$hash_only"
check "a copy without DT_GNU_HASH made" lacks "$(readelf -dW "$hash_only")" '\(GNU_HASH\)'
# shellcheck disable=SC2086
check "loads and answers with this system's loader" test "$(${LOADER_RUNNER:-} "$loader" "$lib")" = "$answers"
# shellcheck disable=SC2086
check "loads and answers with DT_HASH alone" test "$(${LOADER_RUNNER:-} "$loader" "$hash_only")" = "$answers"
if [ "$musl_loader" != - ]; then
	check "loads and answers with musl's loader" test "$("$musl_loader" "$lib")" = "$answers"
fi

# A build for a processor older than its architecture's baseline (ARMv6 for
# the Raspberry Pi 1, whose armhf is ARMv7 elsewhere) carries no newer code,
# and its static tool runs there.
qemu=${oldest%%:*} cpu=$(echo "$oldest" | cut -d: -f2) arch=$(echo "$oldest" | cut -d: -f3)
if [ "$cpu" != - ]; then
	attributes=$(readelf -A "$lib")
	check "$arch code alone" has_line "$attributes" "Tag_CPU_arch: $arch\$"
	check "no Thumb-2 code" lacks_line "$attributes" "Thumb-2"
	mkdir -p "$FAKE_HAL_DIR/sys/class/dmi/id"
	echo 4C4C4544-0032-3510-8033-B4C04F4E5A31 >"$FAKE_HAL_DIR/sys/class/dmi/id/product_uuid"
	check "the tool answers on $cpu" test "$(HOST_SYS=$FAKE_HAL_DIR/sys "$qemu-static" -cpu "$cpu" "$tool" \
		--udi /org/freedesktop/Hal/devices/computer --key system.hardware.uuid)" = 4C4C4544-0032-3510-8033-B4C04F4E5A31
fi

[ "$failures" -eq 0 ]
