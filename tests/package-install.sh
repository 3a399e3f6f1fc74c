#!/bin/sh
# Installs the Debian packages for real, loads the library from the default
# library path on the 64-bit and the 32-bit JVM, asks the installed tool, then
# removes the packages and checks that nothing of them is left.
# Usage: package-install.sh PACKAGE-DIR VERSION JAR FAKE-HAL-BIN
set -u
packages=$1 version=$2 jar=$3 fake_bin=$4
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: installing packages needs root"
	exit 77
fi

debs="$packages/libosidentity-jni_${version}_amd64.deb $packages/libosidentity-jni_${version}_i386.deb
$packages/osidentity-hal-tool_${version}_amd64.deb"
names="libosidentity-jni:amd64 libosidentity-jni:i386 osidentity-hal-tool"
for deb in $debs; do
	[ -f "$deb" ] || { echo "FAILED: $deb is missing (make package builds it)"; exit 1; }
done

failures=0
check() { # description, then a command that must succeed
	what=$1
	shift
	if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
contains() { printf '%s\n' "$1" | grep -qF -- "$2"; }

scratch=$(mktemp -d)
trap 'dpkg --purge $names >/dev/null 2>&1; rm -rf "$scratch"' EXIT
dpkg --purge $names >/dev/null 2>&1
# shellcheck disable=SC2086
check "dpkg installs all three" dpkg -i $debs

# The library from the JVMs' default path, through a fake hal-get-property.
mkdir -p "$scratch/hal"
printf ' PKG-UUID-1 \n' >"$scratch/hal/system.hardware.uuid"
printf 'PKG-SERIAL-2\n' >"$scratch/hal/system.hardware.serial"
for java in /usr/lib/jvm/java-17-openjdk-amd64/bin/java /usr/lib/jvm/java-17-openjdk-i386/bin/java; do
	# shellcheck disable=SC2046
	out=$(FAKE_HAL_DIR=$scratch/hal PATH=$fake_bin:$PATH "$java" \
		$("$top/scripts/jvm-options" "$java") -cp "$jar" org.korvane.mardel.Demo 2>&1)
	echo "$out"
	check "$java loads the installed library" contains "$out" "hardware UUID: PKG-UUID-1"
	check "$java gets the serial number" contains "$out" "serial number: PKG-SERIAL-2"
done

# The installed tool, from a fake DMI tree.
mkdir -p "$scratch/sys/class/dmi/id"
printf 'abcdef01-0000-4000-8000-00000000beef\n' >"$scratch/sys/class/dmi/id/product_uuid"
out=$(HOST_SYS=$scratch/sys /usr/bin/hal-get-property \
	--udi /org/freedesktop/Hal/devices/computer --key system.hardware.uuid)
check "the installed tool answers from HOST_SYS" test "$out" = ABCDEF01-0000-4000-8000-00000000BEEF
check "its man page is installed" test -f /usr/share/man/man1/hal-get-property.1.gz

files=$(for deb in $debs; do dpkg-deb -c "$deb"; done | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
# shellcheck disable=SC2086
check "dpkg removes all three" dpkg --purge $names
left=$(for f in $files /usr/share/doc/libosidentity-jni /usr/share/doc/osidentity-hal-tool; do
	[ -e "$f" ] && echo "$f"
done)
check "nothing of them is left${left:+: $left}" test -z "$left"
for name in $names; do
	check "$name is gone from dpkg's database" \
		test "$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null)" != installed
done

[ "$failures" -eq 0 ]
