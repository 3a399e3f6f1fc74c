#!/bin/sh
# Installs the Debian packages for real, as an administrator would, and checks
# what they give: the library on the JVMs' default path, the development files
# that native callers build with, and the tool, which runs set-group-ID so that
# every local user gets the UUID and serial number. Checks the RPMs' headers
# and signatures, and installs them into scratch roots from the signed
# repository. First of all, builds the packages again in another folder: they
# must come out the same.
# Usage: package-install.sh PACKAGE-DIR VERSION JAR FAKE-HAL-BIN REPO-DIR
set -u
packages=$1 version=$2 jar=$3 fake_bin=$4 repo=$5
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: installing packages needs root"
	exit 77
fi

# This machine's packages, installed for real; the library and development
# files of every target, side by side, in a scratch root of dpkg's own (the
# host gains no architecture), whose /usr each target's root sees over its
# own, as if they were installed there (scripts/in-root's ROOT_USR).
host=$(dpkg --print-architecture)
libs_of() { # Debian architectures
	for arch; do
		echo "$packages/libosidentity-jni_${version}_$arch.deb $packages/libosidentity-dev_${version}_$arch.deb"
	done
}
# The tool's version carries that of the glibc it links (packaging/build-debs).
tool_deb=$(echo "$packages"/osidentity-hal-tool_"$version"+glibc*_"$host".deb)
host_rpm=$("$top/scripts/targets" --host rpm)
host_tool_rpm=$(echo "$packages"/osidentity-hal-tool-"$version"-1.glibc*."$host_rpm".rpm)
java_deb=$packages/libosidentity-java_${version}_all.deb
debs="$(libs_of "$host") $tool_deb $java_deb"
names="libosidentity-jni libosidentity-dev osidentity-hal-tool libosidentity-java"
maven_jar=$packages/maven/org/korvane/mardel/osidentity/$version/osidentity-$version.jar
tool=/usr/bin/hal-get-property
dmi=/sys/class/dmi/id

. "$top/tests/checks.sh"
override() { dpkg-statoverride --list "$tool"; }
in_target() { # preset, command...: where that target's programs run
	root=$("$top/scripts/roots" path "$1")
	shift
	if [ -z "$root" ]; then
		"$@"
	else
		ROOT_USR=$multiarch/usr "$top/scripts/in-root" "$root" "$@"
	fi
}
in_usr() { # command...: with the side-by-side packages' files over /usr
	unshare --mount --propagation private sh -c \
		'mount -t overlay -o "lowerdir=$0/usr:/usr" beside /usr && exec "$@"' "$multiarch" "$@"
}
nobody="setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin"
as_nobody() { $nobody "$@"; }
jvm_options() { "$top/scripts/jvm-options" "$("$top/scripts/roots" path "$1")$2"; } # preset, java
udi=/org/freedesktop/Hal/devices/computer
demo() { # preset, java, then its options: the demo through the fake hal-get-property
	preset=$1 java=$2
	shift 2
	# shellcheck disable=SC2046
	in_target "$preset" env FAKE_HAL_DIR="$scratch/hal" PATH="$fake_bin:$PATH" "$java" \
		$(jvm_options "$preset" "$java") "$@" -jar "$scratch/osidentity.jar" 2>&1
}
install_all() { # shellcheck disable=SC2086
	check "dpkg installs them all${1:+ $1}" dpkg -i $debs
}
purge_all() { # shellcheck disable=SC2086
	check "dpkg purges them all${1:+ $1}" dpkg --purge $names
}

# In private mount and process namespaces, over the sample server's DMI tree
# on a tmpfs in the kernel's modes: the packages open it to every local user,
# and close it on removal.
if [ "${6:-}" = --dmi-tree ]; then
	scratch=$7
	mount -t tmpfs -o mode=755 dmi-tree /sys || exit 1
	sample_dmi_tree /sys

	dpkg-deb -x "$tool_deb" "$scratch/unpacked"
	out=$(as_nobody "$scratch/unpacked$tool" --udi $udi --key system.hardware.uuid 2>&1)
	echo "before: nobody gets: $out"
	check "before: the tool has nothing for nobody" contains "$out" "Permission denied"

	install_all "over the DMI tree"
	for file in $dmi/product_uuid $dmi/product_serial; do
		check "$file is 440 root:osidentity" test "$(mode_of $file)" = "440 root:osidentity"
		check "nobody cannot read $file directly" fails as_nobody cat $file
	done
	check "the tool is 2755 root:osidentity" test "$(mode_of $tool)" = "2755 root:osidentity"
	while read -r key expected host_sys; do
		check "nobody asks the tool for $key${host_sys:+ with HOST_SYS=$host_sys}" \
			test "$(as_nobody env HOST_SYS="$host_sys" $tool --udi $udi --key "$key")" = "$expected"
	done <<-TABLE
		system.hardware.uuid $uuid
		smbios.system.serial $serial
		smbios.system.uuid $uuid $scratch/other/sys
	TABLE

	# A tool relinked against a newer glibc is a newer package, from the
	# same sources: apt upgrades to it from the one before (this package at
	# the version without glibc's), and the tool's mode and group, its
	# override (the package's, or an administrator's) and the attributes'
	# modes stay.
	dpkg-deb -R "$tool_deb" "$scratch/old-tool"
	sed -i "s/^Version: .*/Version: $version/" "$scratch/old-tool/DEBIAN/control"
	dpkg-deb --root-owner-group -b "$scratch/old-tool" "$scratch/old-tool.deb" >/dev/null
	while read -r admin listed mode; do
		label=
		dpkg --purge --force-depends osidentity-hal-tool >/dev/null 2>&1
		if [ "$admin" = yes ]; then
			label=" under an administrator's override"
			dpkg-statoverride --add root root 0755 $tool
		fi
		dpkg -i "$scratch/old-tool.deb" >/dev/null
		check "apt upgrades ${tool_deb##*/} over $version$label" env DEBIAN_FRONTEND=noninteractive \
			apt-get install -y -q "$tool_deb"
		check "after the upgrade$label, the tool is $mode" test "$(mode_of $tool)" = "$mode"
		listed=$(echo "$listed" | tr : ' ')
		check "after the upgrade$label, the override is $listed" test "$(override)" = "$listed $tool"
		for file in $dmi/product_uuid $dmi/product_serial; do
			check "after the upgrade$label, $file is 440 root:osidentity" \
				test "$(mode_of $file)" = "440 root:osidentity"
		done
		[ "$admin" = no ] || { dpkg --purge --force-depends osidentity-hal-tool >/dev/null && dpkg-statoverride --remove $tool; }
	done <<-TABLE
		yes root:root:755 755 root:root
		no root:osidentity:2755 2755 root:osidentity
	TABLE
	# The other targets' roots see the tool as installed.
	multiarch=$scratch/multiarch
	mkdir -p "$multiarch/usr/bin" && cp -p $tool "$multiarch$tool"
	while read -r preset jvm; do
		java=$jvm/bin/java
		# shellcheck disable=SC2046,SC2086
		out=$(in_target "$preset" $nobody "$java" $(jvm_options "$preset" "$java") \
			-jar "$scratch/osidentity.jar" 2>&1)
		echo "$out"
		check "$java as nobody gets the UUID" contains "$out" "hardware UUID: $uuid"
		check "$java as nobody gets the serial number" contains "$out" "serial number: $serial"
	done <<-TABLE
		$("$top/scripts/targets" preset jvm)
	TABLE
	for example in "$scratch"/examples/*/pkg-config "$scratch"/examples/*/cmake/show-identity; do
		preset=${example#"$scratch"/examples/}
		# shellcheck disable=SC2086
		out=$(in_target "${preset%%/*}" $nobody "$example" 2>&1)
		check "${example#"$scratch"/} as nobody gets both values" \
			test "$out" = "$(printf 'hardware UUID: %s\nserial number: %s' "$uuid" "$serial")"
	done

	# A privileged container sees the host's /sys, with the container's
	# groups: there, neither the packages nor the init script change it.
	for mark in /run/.containerenv /.dockerenv; do
		touch "$mark"
		while read -r action argument modes; do
			named=$action
			[ "$argument" = - ] || named="$action $argument"
			case $action in
			install) action="dpkg -i $tool_deb" ;;
			remove) action="dpkg -r --force-depends osidentity-hal-tool" ;;
			boot) action="/etc/init.d/osidentity-hal-tool start" ;;
			*) rpm -qp --qf "%{$action}" "$host_tool_rpm" >"$scratch/scriptlet" &&
				action="sh $scratch/scriptlet $argument" ;;
			esac
			for file in $dmi/product_uuid $dmi/product_serial; do
				chown "root:${modes#* root:}" "$file" && chmod "0${modes%% *}" "$file"
			done
			$action >/dev/null 2>&1
			for file in $dmi/product_uuid $dmi/product_serial; do
				check "in a container ($mark), $named leaves $file $modes" test "$(mode_of $file)" = "$modes"
			done
		done <<-TABLE
			install - 400 root:root
			boot - 400 root:root
			POSTIN 1 400 root:root
			remove - 440 root:osidentity
			POSTUN 0 440 root:osidentity
		TABLE
		rm -f "$mark"
	done
	# The group must be a local system group: the install fails rather
	# than take a user's group of that name.
	dpkg --purge --force-depends osidentity-hal-tool >/dev/null 2>&1
	groupdel osidentity && groupadd osidentity
	check "dpkg -i fails where osidentity is a user's group, not a system group" fails dpkg -i "$tool_deb"
	dpkg --purge --force-depends osidentity-hal-tool >/dev/null 2>&1
	groupdel osidentity
	install_all "again"

	# The RPM's scriptlets, run as rpm runs them, over the same tree and rule.
	rpm=$host_tool_rpm
	# Its pre makes a local system group once, with groupadd, which turns
	# away a group that the directory alone has (here getent's); without
	# its group, the RPM does not install.
	mkdir "$scratch/stubs"
	rpm -qp --qf '%{PREIN}' "$rpm" >"$scratch/scriptlet"
	while read -r argument local_group getent groupadd outcome; do
		printf '#!/bin/sh\n[ %s = yes ] && echo osidentity:x:5000:\n' "$getent" >"$scratch/stubs/getent"
		printf '#!/bin/sh\necho groupadd >>"%s"\nexit %s\n' "$scratch/stubs/ran" "$groupadd" >"$scratch/stubs/groupadd"
		chmod 755 "$scratch/stubs/getent" "$scratch/stubs/groupadd"
		grep -v '^osidentity:' /etc/group >"$scratch/group"
		[ "$local_group" = - ] || echo "$local_group" >>"$scratch/group"
		rm -f "$scratch/stubs/ran"
		mount --bind "$scratch/group" /etc/group
		env PATH="$scratch/stubs:$PATH" sh "$scratch/scriptlet" "$argument" 2>/dev/null
		status=$?
		umount /etc/group
		ran=$(cat "$scratch/stubs/ran" 2>/dev/null)
		check "the RPM's pre $argument, local group '$local_group', directory's $getent, groupadd exiting $groupadd: $outcome" \
			test "$([ $status -eq 0 ] && echo succeeds || echo fails)${ran:+ after groupadd}" = "$outcome"
	done <<-TABLE
		1 - no 0 succeeds after groupadd
		2 osidentity:x:990: no 0 succeeds
		1 - yes 9 fails after groupadd
		1 - no 10 fails after groupadd
	TABLE
	# Its post makes the tool set-group-ID at every install and upgrade,
	# unless the administrator keeps it unprivileged.
	rpm -qp --qf '%{POSTIN}' "$rpm" >"$scratch/scriptlet"
	mkdir -p /etc/osidentity
	while read -r opted_out mode; do
		rm -f /etc/osidentity/unprivileged-tool
		[ "$opted_out" = no ] || touch /etc/osidentity/unprivileged-tool
		chgrp root $tool && chmod 0755 $tool # as an upgrade lays it down
		sh "$scratch/scriptlet" 2
		check "after the RPM's upgrade, with the opt-out $opted_out, the tool is $mode" test "$(mode_of $tool)" = "$mode"
	done <<-TABLE
		no 2755 root:osidentity
		yes 755 root:root
	TABLE
	rm -rf /etc/osidentity
	while read -r scriptlet argument modes; do
		rpm -qp --qf "%{$scriptlet}" "$rpm" >"$scratch/scriptlet"
		sh "$scratch/scriptlet" "$argument"
		for file in $dmi/product_uuid $dmi/product_serial; do
			check "after the RPM's $scriptlet $argument, $file is $modes" \
				test "$(mode_of $file)" = "$modes"
		done
	done <<-TABLE
		POSTUN 0 400 root:root
		POSTIN 1 440 root:osidentity
		POSTIN 2 440 root:osidentity
		POSTUN 1 440 root:osidentity
	TABLE

	# At boot without systemd, the init script that configure registered
	# opens them again; where systemd is the init, it leaves them to the
	# tmpfiles rule. /run tells which.
	# Removed but not purged, the script stays registered and does nothing.
	check "the init script is registered for boot" ls /etc/rcS.d/S[0-9][0-9]osidentity-hal-tool
	while read -r init removed modes; do
		after=
		if [ "$removed" = removed ]; then
			after=" after removal"
			check "dpkg removes the tool" dpkg --remove --force-depends osidentity-hal-tool
			for file in $dmi/product_uuid $dmi/product_serial; do
				check "$file is 400 root:root again" test "$(mode_of $file)" = "400 root:root"
			done
		fi
		for file in $dmi/product_uuid $dmi/product_serial; do
			chown root:root "$file" && chmod 0400 "$file"
		done
		mount -t tmpfs booted-with-"$init" /run
		[ "$init" = sysvinit ] || mkdir -p /run/systemd/system
		/etc/init.d/osidentity-hal-tool start
		umount /run
		for file in $dmi/product_uuid $dmi/product_serial; do
			check "booted with $init$after, the init script leaves $file $modes" \
				test "$(mode_of $file)" = "$modes"
		done
	done <<-TABLE
		systemd - 400 root:root
		sysvinit - 440 root:osidentity
		sysvinit removed 400 root:root
	TABLE
	purge_all "over the DMI tree"
	check "no override is left" test -z "$(override)"
	[ "$failures" -eq 0 ]
	exit
fi

for deb in $debs; do
	[ -f "$deb" ] || { echo "FAILED: $deb is missing (make package builds it)"; exit 1; }
done
scratch=$(mktemp -d)
chmod 755 "$scratch"
cp "$jar" "$scratch/osidentity.jar"
mkdir -p "$scratch/hal" "$scratch/other$dmi"
printf ' PKG-UUID-1 \n' >"$scratch/hal/system.hardware.uuid"
printf 'PKG-SERIAL-2\n' >"$scratch/hal/system.hardware.serial"
printf 'abcdef01-0000-4000-8000-00000000beef\n' >"$scratch/other$dmi/product_uuid"
trap 'dpkg --purge $names >/dev/null 2>&1; dpkg-statoverride --remove $tool >/dev/null 2>&1; rm -rf "$scratch"' EXIT
dpkg --purge $names >/dev/null 2>&1
dpkg-statoverride --remove $tool >/dev/null 2>&1

# The same sources, built again in another folder and at another time, give
# the same packages, byte for byte.
rebuild=$scratch/rebuild/osidentity
mkdir -p "$rebuild"
tar -C "$top" --exclude=./build --exclude=./.git -cf - . | tar -C "$rebuild" -xf -
for preset in $("$top/scripts/targets" preset); do
	(cd "$rebuild" && cmake --preset "$preset" -DBUILD_TESTING=OFF &&
		cmake --build --preset "$preset" --target debs rpms) >"$scratch/rebuild.log" 2>&1 ||
		{ tail -n 20 "$scratch/rebuild.log"; check "the $preset packages build again" false; }
done
(cd "$rebuild" && packaging/build-maven "$version" build/packages \
	"build/$("$top/scripts/targets" --host preset)/java/osidentity.jar" build/packages/maven) >/dev/null
# The repository serves what was built: each .deb as it is, each RPM with the
# same header and payload under its signature, the Maven artifact signed.
digests() { rpm -qp --qf '%{SHA256HEADER} %{PAYLOADDIGEST}' "$1" 2>/dev/null; }
for name in $(cd "$packages" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); do
	check "$name is the same, built again" cmp -s "$packages/$name" "$rebuild/build/packages/$name"
	case $name in
	*.deb) check "the repository serves $name as built" \
		cmp -s "$packages/$name" "$repo/debian/pool/main/o/osidentity/$name" ;;
	*.rpm) check "the repository's $name differs in its signature alone" \
		test "$(digests "$packages/$name")" = "$(digests "$repo/rpm/$name")" ;;
	maven/*) check "the repository serves $name as built, signed" gpgv --keyring \
		"$repo/osidentity-archive-keyring.gpg" "$repo/$name.asc" "$packages/$name" ;;
	esac
done

# The Maven artifact's jar carries the library of every target: each
# target's JVM, in its root, loads its own from the jar, with no library
# path and nothing installed.
while read -r preset jvm; do
	root=$("$top/scripts/roots" path "$preset") runner=
	[ -z "$root" ] || runner="$top/scripts/in-root $root"
	# shellcheck disable=SC2046,SC2086
	out=$($runner env FAKE_HAL_DIR="$scratch/hal" PATH="$fake_bin:$PATH" "$jvm/bin/java" \
		$(jvm_options "$preset" "$jvm/bin/java") -jar "$maven_jar" 2>&1)
	echo "$out"
	check "$preset: the Maven jar's own library answers its JVM" contains "$out" "hardware UUID: PKG-UUID-1"
done <<-TABLE
	$("$top/scripts/targets" preset jvm)
TABLE
# Where java.io.tmpdir is mounted noexec, as in hardened services, the error
# names the property that moves the library, and that property moves it.
host_java=$("$top/scripts/targets" --host jvm)/bin/java
mkdir "$scratch/noexec" && mount -t tmpfs -o noexec noexec "$scratch/noexec"
while read -r option expected; do
	out=$(FAKE_HAL_DIR="$scratch/hal" PATH="$fake_bin:$PATH" "$host_java" -Djava.io.tmpdir="$scratch/noexec" \
		-Dosidentity.tmpdir="$option" -jar "$maven_jar" 2>&1)
	check "the Maven jar, java.io.tmpdir mounted noexec, osidentity.tmpdir '$option': $expected" contains "$out" "$expected"
done <<-TABLE
	$scratch/noexec is mounted noexec, set -Dosidentity.tmpdir=DIR
	$scratch hardware UUID: PKG-UUID-1
TABLE
umount "$scratch/noexec"

# On this machine's own /sys (without DMI tables in most VMs): the library
# from the JVMs' default path, through a fake hal-get-property.
install_all
check "the tool is 2755 root:osidentity" test "$(mode_of $tool)" = "2755 root:osidentity"
multiarch=$scratch/multiarch
mkdir -p "$multiarch/var/lib/dpkg/info" "$multiarch/var/lib/dpkg/updates"
: >"$multiarch/var/lib/dpkg/status"
for arch in $("$top/scripts/targets" deb); do
	dpkg --root="$multiarch" --add-architecture "$arch"
done
# shellcheck disable=SC2046
check "dpkg installs every target's library and development files side by side" \
	dpkg --root="$multiarch" --log=/dev/null --force-depends -i $(libs_of $("$top/scripts/targets" deb))
# The glibc of the root that each tool links (armhf's: armel's).
while read -r preset deb; do
	glibc=$("$top/scripts/roots" glibc "$("$top/scripts/roots" tool-root "$preset")")
	check "$preset: the tool's Built-Using names the glibc it links, $glibc" test \
		"$(dpkg-deb -f "$packages"/osidentity-hal-tool_*_"$deb".deb Built-Using)" = "glibc (= $glibc)"
done <<-TABLE
	$("$top/scripts/targets" preset deb)
TABLE
while read -r preset jvm; do
	java=$jvm/bin/java
	out=$(demo "$preset" "$java")
	echo "$out"
	check "$java loads the installed library" contains "$out" "hardware UUID: PKG-UUID-1"
	check "$java gets the serial number" contains "$out" "serial number: PKG-SERIAL-2"
done <<-TABLE
	$("$top/scripts/targets" preset jvm)
TABLE
check "its man page is installed" test -f /usr/share/man/man1/hal-get-property.1.gz
# The class from libosidentity-java, on a JVM whose library path has no jni
# folder (Temurin's): it finds the library where the package put it.
out=$(FAKE_HAL_DIR="$scratch/hal" PATH="$fake_bin:$PATH" "$host_java" \
	-Djava.library.path=/usr/java/packages/lib:/usr/lib64:/lib64:/lib:/usr/lib \
	-cp /usr/share/java/osidentity.jar org.korvane.mardel.Demo 2>&1)
check "the installed class loads the installed library on a JVM without Debian's path" \
	contains "$out" "hardware UUID: PKG-UUID-1"

# The header serves C++ callers of every standard, and stops a C caller with
# one error that says why.
cflags=$(pkg-config --cflags osidentity)
caller='#include <josuuid.h>
#include <stdlib.h>
int main() { free(getOSUUID()); free(getOSSerial()); return 0; }'
for std in c++98 c++03 c++11 c++14 c++17 c++20 c++23; do
	# shellcheck disable=SC2086
	check "the header compiles cleanly as $std" sh -c 'caller=$1 && shift && printf "%s\n" "$caller" |
		g++ -x c++ -Wall -Wextra -pedantic -Werror -fsyntax-only "$@" -' - "$caller" -std=$std $cflags
done
# shellcheck disable=SC2086
out=$(printf '#include <josuuid.h>\nint main(void) { return getOSUUID() != 0; }\n' |
	gcc -x c -fsyntax-only $cflags - 2>&1)
printf '%s\n' "$out" | grep 'error:'
check "from C, one error" test "$(printf '%s\n' "$out" | grep -c 'error:')" = 1
check "from C, the error says to compile as C++" contains "$out" "compile the caller as C++"

# The native example, built for each target against the installed files,
# with pkg-config and with CMake (as its toolchain file in cmake/ sets the
# compiler up); it runs as nobody over the DMI tree below.
cxx_of() { # preset, triplet
	root=$("$top/scripts/roots" path "$1") toolchain=$top/cmake/$1.cmake
	if [ -z "$root" ]; then
		echo g++
	else
		cross=$(sed -n 's/^set(cross_triplet \(.*\))/\1/p' "$toolchain")
		binutils=$("$top/scripts/roots" binutils "$1")
		echo clang++ --target="$cross" --sysroot="$root" ${binutils:+--ld-path=$binutils/$cross-ld}
	fi
}
while read -r preset triplet; do
	dir=$scratch/examples/$preset
	mkdir -p "$dir"
	# shellcheck disable=SC2046
	check "$preset: the example builds with pkg-config" in_usr $(cxx_of "$preset" "$triplet") \
		-o "$dir/pkg-config" "$top/examples/native/show-identity.cpp" \
		$(in_usr env PKG_CONFIG_LIBDIR=/usr/lib/$triplet/pkgconfig pkg-config --cflags --libs osidentity)
	check "$preset: the example builds with CMake" in_usr sh -c '{ cmake -S "$1" -B "$2" --toolchain "$3" \
		-Dosidentity_DIR="$4" && cmake --build "$2"; } >/dev/null' - "$top/examples/native" "$dir/cmake" \
		"$top/cmake/$preset.cmake" "/usr/lib/$triplet/cmake/osidentity"
done <<-TABLE
	$("$top/scripts/targets" preset triplet)
TABLE
files=$(for deb in $debs; do dpkg-deb -c "$deb"; done | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
purge_all
check "no override is left" test -z "$(override)"
left=$(for f in $files /usr/share/doc/libosidentity-jni /usr/share/doc/osidentity-hal-tool \
	/etc/rc?.d/[SK][0-9][0-9]osidentity-hal-tool; do
	[ -e "$f" ] && echo "$f"
done)
check "nothing of them is left${left:+: $left}" test -z "$left"
for name in $names; do
	check "$name is gone from dpkg's database" \
		test "$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null)" != installed
done

# An administrator's override, set before installing, is kept; the tool is
# then unprivileged and may be pointed at another tree.
dpkg-statoverride --add root root 0755 $tool
install_all "under an administrator's override"
check "the tool keeps the administrator's mode" test "$(mode_of $tool)" = "755 root:root"
check "the unprivileged tool answers from HOST_SYS" \
	test "$(HOST_SYS=$scratch/other/sys $tool --udi $udi --key system.hardware.uuid)" = \
	ABCDEF01-0000-4000-8000-00000000BEEF
purge_all "under an administrator's override"
check "the administrator's override survives" test "$(override)" = "root root 755 $tool"
dpkg-statoverride --remove $tool

# The RPMs: for which architecture, which files with which modes and owners,
# a gzip payload with MD5 digests (none named), and no requirement that the
# rpm and glibc of the systems they are for cannot meet.
no_newer_glibc() { # requirements, version
	newest=$(printf '%s\n' "$1" | grep -oE 'GLIBC_[0-9.]+' | sed 's/GLIBC_//' | sort -V | tail -n 1)
	[ -z "$newest" ] || [ "$(printf '%s\n%s\n' "$newest" "$2" | sort -V | tail -n 1)" = "$2" ]
}
# The RPMs' rows, from the targets' rows: name, glibc, then the header.
rpm_rows() {
	"$top/scripts/targets" rpm rpm-libdir tool-rpm glibc | while read -r arch libdir tool_rpm glibc; do
		[ "$arch" != - ] || continue
		echo "osidentity-jni $glibc $arch.rpm gzip (none) -rwxr-xr-x root:root $libdir/libosidentity.so"
		echo "osidentity-jni-devel $glibc $arch.rpm gzip (none)" \
			"drwxr-xr-x root:root /usr/include/osidentity" \
			"-rw-r--r-- root:root /usr/include/osidentity/josuuid.h" \
			"drwxr-xr-x root:root $libdir/cmake/osidentity" \
			"-rw-r--r-- root:root $libdir/cmake/osidentity/osidentity-config-version.cmake" \
			"-rw-r--r-- root:root $libdir/cmake/osidentity/osidentity-config.cmake" \
			"-rw-r--r-- root:root $libdir/pkgconfig/osidentity.pc"
		[ "$tool_rpm" = yes ] &&
			echo "osidentity-hal-tool 2.28 $arch.rpm gzip (none) -rwxr-xr-x root:root $tool" \
				"-rw-r--r-- root:root /usr/lib/tmpfiles.d/osidentity-hal-tool.conf" \
				"-rw-r--r-- root:root /usr/share/man/man1/hal-get-property.1.gz"
	done
}
while read -r name glibc header; do
	rpm=$(echo "$packages/$name-$version"-1*."${header%% *}") # the tool: 1.glibc...
	check "$name.$header" test "$(rpm -qp --qf '%{ARCH}.rpm %{PAYLOADCOMPRESSOR} %{FILEDIGESTALGO}[ %{FILEMODES:perms} %{FILEUSERNAME}:%{FILEGROUPNAME} %{FILENAMES}]' "$rpm")" = "$header"
	requires=$(rpm -qp --requires "$rpm")
	echo "$requires" | sed "s/^/$name requires: /"
	check "$name requires no rtld(GNU_HASH), FileDigests or PayloadIs*" \
		lacks "$requires" 'rtld\(GNU_HASH\)|rpmlib\((FileDigests|PayloadIs)'
	check "$name requires no glibc newer than $glibc" no_newer_glibc "$requires" "$glibc"
done <<-TABLE
	$(rpm_rows)
TABLE
# rpm -U from the tool's RPM of release 1 (before glibc's version was in it)
# to this one; it lays the tool down unprivileged, for its post to decide
# (run without scripts here: the scratch root has no shell).
upgrade_root=$scratch/rpm-upgrade
build=$top/build/$("$top/scripts/targets" --host preset)
mkdir -p "$upgrade_root/etc"
printf 'root:x:0:0::/root:/bin/sh\n' >"$upgrade_root/etc/passwd"
printf 'root:x:0:\nosidentity:x:990:\n' >"$upgrade_root/etc/group"
TOOL_RELEASE=1 "$top/packaging/build-rpms" "$version" "$host_rpm" "$("$top/scripts/targets" --host rpm-libdir)" \
	"$build/native/libosidentity.so" "$build/tools/hal-get-property" "$build/packaging/rpm" \
	"$scratch/old-rpms" >/dev/null
rpm --root "$upgrade_root" --initdb
rpm --root "$upgrade_root" -i --nodeps --noscripts "$scratch/old-rpms/osidentity-hal-tool-$version-1.$host_rpm.rpm"
check "rpm -U upgrades to ${host_tool_rpm##*/}" rpm --root "$upgrade_root" -U --nodeps --noscripts "$host_tool_rpm"
check "after rpm -U, before its post, the tool is 755 root:root" \
	test "$(stat -c '%a %u:%g' "$upgrade_root$tool")" = "755 0:0"

# The repository's RPMs carry signatures that rpm checks with the exported
# key, and turns away without it.
keys=$scratch/rpm-keys
rpm --dbpath "$keys" --initdb
for signed in "$repo"/rpm/*.rpm; do
	check "without the key, rpm --checksig turns away ${signed##*/}" \
		fails rpm --dbpath "$keys" --checksig --quiet "$signed"
done
rpm --dbpath "$keys" --import "$repo/osidentity-archive-keyring.asc"
check "with the key, rpm --checksig passes every RPM" rpm --dbpath "$keys" --checksig "$repo"/rpm/*.rpm

# make repo signs with one key: an address that two secret keys share is
# refused, with both listed and nothing written; a fingerprint signs, and
# its key alone is published.
signing=$scratch/signing
mkdir -p "$signing/packages" && mkdir -m 700 "$signing/gnupg"
cp "$tool_deb" "$host_tool_rpm" \
	"$signing/packages/"
for n in 1 2; do
	GNUPGHOME=$signing/gnupg gpg --batch --quiet --passphrase '' --quick-generate-key \
		"packages $n <packages@example.org>" rsa2048 sign never
done
fingerprints=$(GNUPGHOME=$signing/gnupg gpg --list-secret-keys --with-colons | awk -F: '$1 == "fpr" { print $10 }')
make_repo() { # signing key, repository
	GNUPGHOME=$signing/gnupg OSIDENTITY_SIGNING_KEY=$1 "$top/packaging/build-repo" \
		"$signing/packages" "$2" "$signing/unused" 2>&1
}
out=$(make_repo packages@example.org "$signing/shared")
check "make repo refuses an address that two keys share" contains "$out" "matches 2 secret keys, not one"
for fingerprint in $fingerprints; do
	check "and lists $fingerprint" contains "$out" "$fingerprint"
done
check "and writes no repository" test ! -e "$signing/shared"
first=$(echo "$fingerprints" | head -n 1)
check "make repo signs with one fingerprint" make_repo "$first" "$signing/one"
check "its keyring holds that key alone" test "$(gpg --show-keys --with-colons \
	"$signing/one/osidentity-archive-keyring.gpg" | awk -F: '$1 == "pub" { getline; print $10 }')" = "$first"
check "which signed its InRelease" gpgv --keyring "$signing/one/osidentity-archive-keyring.gpg" \
	"$signing/one/debian/dists/stable/InRelease"
# An index replayed later is turned away: it is valid for 30 days.
valid_until=$(date -d "$(sed -n 's/^Valid-Until: //p' "$signing/one/debian/dists/stable/InRelease")" +%s)
check "its InRelease is valid until 30 days from now" test "$((valid_until - $(date +%s)))" -gt $((29 * 86400)) -a \
	"$((valid_until - $(date +%s)))" -le $((30 * 86400))
# Without a key of the user's, a throwaway key that says what it is and expires.
GNUPGHOME=$signing/gnupg "$top/packaging/build-repo" "$signing/packages" "$signing/throwaway" \
	"$signing/throwaway-key" >/dev/null 2>&1
throwaway=$(gpg --show-keys --with-colons "$signing/throwaway/osidentity-archive-keyring.gpg")
check "the throwaway key is named for what it is" contains "$throwaway" "THROWAWAY osidentity test key, do not trust"
check "the throwaway key has nobody's address" lacks "$throwaway" 'korvane\.org'
check "the throwaway key expires" test -n "$(echo "$throwaway" | awk -F: '$1 == "pub" { print $7 }')"
GNUPGHOME=$signing/throwaway-key gpgconf --kill gpg-agent
GNUPGHOME=$signing/gnupg gpgconf --kill gpg-agent

# A scratch root's stand-in for what the RPMs of an architecture need of the
# system (libc, groupadd, pkg-config), in its rpm database, so that dnf can
# resolve them there.
system_stand_in() { # arch, root
	needs=$(rpm -qp --requires "$repo"/rpm/*."$1".rpm 2>/dev/null | grep -vE '^(rpmlib|osidentity)' | sort -u)
	printf '%s\n' "Name: system-stand-in" "Version: 1" "Release: 1" "BuildArch: noarch" \
		"Summary: stand-in" "License: none" "$(printf '%s\n' "$needs" | sed 's/^/Provides: /')" \
		"%description" "stand-in" "%files" >"$scratch/stand-in.spec"
	rpmbuild -bb --quiet --define "_topdir $scratch/rpmbuild" --define "_rpmdir $scratch" \
		"$scratch/stand-in.spec" &&
		rpm --root "$2" --initdb && rpm --root "$2" -i --nodeps "$scratch"/noarch/system-stand-in-1-1.noarch.rpm
}
# Each target's RPMs, installed by dnf from the signed repository (checking
# the metadata's signature and the packages') into a scratch root of their
# own (x86_64 and aarch64 share /usr/lib64), and loaded from there by the
# target's JVM.
while read -r preset arch jvm libdir; do
	[ "$arch" != - ] || continue
	rpm_root=$scratch/rpm-root-$arch
	system_stand_in "$arch" "$rpm_root" 2>/dev/null
	java_rpm=
	[ "$arch" != "$host_rpm" ] || java_rpm=osidentity-java
	check "dnf installs the $arch RPMs${java_rpm:+ and $java_rpm} from the signed repository into a scratch root" \
		dnf -y -q --installroot="$rpm_root" --releasever=1 --forcearch="$arch" \
		--setopt=reposdir="$repo" --setopt=tsflags=noscripts install "osidentity-*.$arch" $java_rpm
	out=$(demo "$preset" "$jvm/bin/java" -Djava.library.path="$rpm_root$libdir")
	check "$jvm loads $libdir/libosidentity.so from the scratch root" \
		contains "$out" "hardware UUID: PKG-UUID-1"
	pc_libs=$(PKG_CONFIG_LIBDIR=$rpm_root$libdir/pkgconfig pkg-config --libs osidentity)
	cmake_library=$(sed -n 's/.*IMPORTED_LOCATION "\(.*\)"/\1/p' "$rpm_root$libdir/cmake/osidentity/osidentity-config.cmake")
	# shellcheck disable=SC2086
	check "$arch: osidentity.pc and the CMake package link $libdir/libosidentity.so" \
		test "$(echo $pc_libs $cmake_library)" = "$libdir/libosidentity.so $libdir/libosidentity.so"
done <<-TABLE
	$("$top/scripts/targets" preset rpm jvm rpm-libdir)
TABLE
rpm_root=$scratch/rpm-root-$host_rpm
check "the scratch root has the class from osidentity-java" test -s "$rpm_root/usr/share/java/osidentity.jar"
check "the scratch root's tool answers from HOST_SYS" \
	test "$(HOST_SYS=$scratch/other/sys "$rpm_root$tool" --udi $udi --key system.hardware.uuid)" = \
	ABCDEF01-0000-4000-8000-00000000BEEF

# As a machine of its own: the first process of a process namespace, in a
# root of this machine's folders, without the marks of a container (this
# machine may carry /.dockerenv) and with a /run of its own. The scripts
# take a mount namespace whose PID 1 is another's for a chroot.
unshare --mount --propagation private --pid --fork sh -c '
	machine=$(mktemp -d)
	mount -t tmpfs machine "$machine" || exit 1
	for entry in /*; do
		name=${entry#/}
		case $name in proc | run) continue ;; esac
		if [ -L "$entry" ]; then
			ln -s "$(readlink "$entry")" "$machine/$name"
		elif [ -d "$entry" ]; then
			mkdir "$machine/$name" && mount --rbind "$entry" "$machine/$name" || exit 1
		fi
	done
	mkdir "$machine/proc" "$machine/run"
	mount -t proc proc "$machine/proc" && mount -t tmpfs run "$machine/run" &&
		exec chroot "$machine" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin sh "$@"' - "$0" "$@" --dmi-tree "$scratch" ||
	failures=$((failures + 1))

[ "$failures" -eq 0 ]
