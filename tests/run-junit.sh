#!/bin/sh
# Runs JUnit test classes on one JVM with -Xcheck:jni, against the fake
# hal-get-property. Fails on a failed test and on any warning the JVM prints:
# those of its JNI checks, and those of Java 24 and later about native access.
# Usage: run-junit.sh [--chained] JAVA LIBRARY-DIR CLASSPATH FAKE-HAL-BIN CLASS...
#        run-junit.sh --demo JAVA LIBRARY-DIR JAR FAKE-HAL-BIN
#   --chained preloads the JVM's libjsig.so, as a program that hosts a JVM
#   and has signal handlers of its own does.
#   --demo runs `java -jar JAR` instead, as an application owner would, and
#   checks that the UUID reaches it.
set -u
demo=false chained=false
[ "$1" = --demo ] && demo=true && shift
[ "$1" = --chained ] && chained=true && shift
java=$1 libdir=$2 classpath=$3 fake_bin=$4
shift 4
console=${JUNIT_CONSOLE:-/usr/share/java/junit-platform-console-standalone.jar}
. "$(dirname "$0")/checks.sh"
have_jvm "$java" || exit 1

FAKE_HAL_DIR=$(mktemp -d) || exit 1
export FAKE_HAL_DIR
output=$FAKE_HAL_DIR.out
trap 'rm -rf "$FAKE_HAL_DIR" "$output"' EXIT
PATH=$fake_bin:$PATH
export PATH

options="$("$(dirname "$0")/../scripts/jvm-options" "$java") -Djava.library.path=$libdir"
# Java 17 and later know --enable-native-access (24 warns without it); 11 does not.
release=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$(dirname "$(readlink -f "$java")")/../release")
access() { # module
	[ "${release:-0}" -lt 17 ] || echo "--enable-native-access=$1"
}
if $demo; then
	printf ' JAR-UUID-1 \n' >"$FAKE_HAL_DIR/system.hardware.uuid"
	# shellcheck disable=SC2086
	"$java" $options -jar "$classpath" >"$output" 2>&1
	status=$?
	# On the module path too, named as its manifest names the automatic module.
	# shellcheck disable=SC2086
	"$java" $options $(access org.korvane.mardel) --module-path "$classpath" \
		-m org.korvane.mardel/org.korvane.mardel.Demo >>"$output" 2>&1 || status=1
	[ "$(grep -c '^  hardware UUID: JAR-UUID-1$' "$output")" -eq 2 ] || status=1
else
	selections=
	for class in "$@"; do
		selections="$selections --select-class=$class"
	done
	libjsig=
	$chained && libjsig=$(dirname "$(readlink -f "$java")")/../lib/libjsig.so
	# The console launcher's own manifest does not enable native access.
	# shellcheck disable=SC2086
	LD_PRELOAD=$libjsig "$java" $options -Xcheck:jni $(access ALL-UNNAMED) -jar "$console" \
		--class-path="$classpath" $selections \
		--fail-if-no-tests --disable-banner --disable-ansi-colors --details=summary \
		>"$output" 2>&1
	status=$?
fi
cat "$output"
# JUnit 5.10 and later warn of their own deprecated command line, which 5.7
# (Debian 11's) needs.
if grep -nE 'WARNING|FATAL ERROR in native method' "$output" | grep -v "WARNING: Delegated to the 'execute' command"; then
	echo "run-junit: the JVM printed warnings" >&2
	exit 1
fi
exit $status
