#!/bin/sh
# Runs JUnit test classes on one JVM with -Xcheck:jni, against the fake
# hal-get-property. Fails on a failed test and on any warning that the JVM's
# JNI checks print.
# Usage: run-junit.sh JAVA LIBRARY-DIR CLASSPATH FAKE-HAL-BIN CLASS...
set -u
java=$1 libdir=$2 classpath=$3 fake_bin=$4
shift 4
console=/usr/share/java/junit-platform-console-standalone.jar

FAKE_HAL_DIR=$(mktemp -d) || exit 1
export FAKE_HAL_DIR
output=$FAKE_HAL_DIR.out
trap 'rm -rf "$FAKE_HAL_DIR" "$output"' EXIT
PATH=$fake_bin:$PATH
export PATH

selections=
for class in "$@"; do
	selections="$selections --select-class=$class"
done
options=$("$(dirname "$0")/../scripts/jvm-options" "$java")
# shellcheck disable=SC2086
"$java" $options -Xcheck:jni -Djava.library.path="$libdir" -jar "$console" \
	--class-path="$classpath" $selections \
	--fail-if-no-tests --disable-banner --disable-ansi-colors --details=summary \
	>"$output" 2>&1
status=$?
cat "$output"
if grep -nE 'WARNING in native method|FATAL ERROR in native method|^WARNING: JNI' "$output"; then
	echo "run-junit: the JVM printed JNI warnings" >&2
	exit 1
fi
exit $status
