#!/bin/sh
# Runs test programs under valgrind's memcheck: any error, or any definite or
# indirect leak, fails. The children that the probe starts are not traced.
# Usage: memcheck.sh TEST-PROGRAM...
set -u
HUGE_ANSWER_BYTES=1048576 # see stress_test.cpp
export HUGE_ANSWER_BYTES
failed=0
# valgrind runs one thread at a time: the bound of the forking-thread test
# measures its scheduling, not the library.
for program in "$@"; do
	echo "== memcheck: $program"
	valgrind --quiet --error-exitcode=99 --leak-check=full \
		--errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
		"$program" --gtest_brief=1 --gtest_filter=-Stress.ForkingThreadBesideCalls || failed=1
done
exit $failed
