# Sourced by the test scripts: each check prints one line, ok or FAILED, and
# counts the failures in $failures.
failures=0
check() { # description, then a command that must succeed
	what=$1
	shift
	if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
fails() { ! "$@" 2>/dev/null; }
contains() { printf '%s\n' "$1" | grep -qF -- "$2"; }
lacks() { ! printf '%s\n' "$1" | grep -qE -- "$2"; }
mode_of() { stat -c '%a %U:%G' "$1"; }
# A JVM that set-up installs (in the host or in a root) must be there.
have_jvm() { # java
	[ -x "$1" ] && return
	echo "FAILED: no JVM at $1, which set-up installs"
	failures=$((failures + 1))
	return 1
}

# The sample server's DMI attributes under DIR/class/dmi/id, a stand-in for
# /sys, in the kernel's modes: 0444, but for the UUID and serial number, which
# get MODE and GROUP (by default 0400 root, as the kernel leaves them). Sets
# $uuid, as the tool prints it, and $serial. Needs $top, the project's root.
sample_dmi_tree() { # dir [mode group]
	cp -R "$top/examples/poweredge-r740/class" "$1/"
	chmod 0444 "$1"/class/dmi/id/*
	chgrp "${3:-root}" "$1/class/dmi/id/product_uuid" "$1/class/dmi/id/product_serial"
	chmod "${2:-0400}" "$1/class/dmi/id/product_uuid" "$1/class/dmi/id/product_serial"
	uuid=$(tr a-f A-F <"$1/class/dmi/id/product_uuid") serial=$(cat "$1/class/dmi/id/product_serial")
}
