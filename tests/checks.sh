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
