#!/bin/sh
# Installs the packages of `make repo` on other Debian releases, with each
# release's own apt from the signed repository, in a minbase root of it (apt
# must turn the repository away when a byte of it changes, and when another
# key signed it). Then, as on a user's machine, user nobody then gets the UUID and serial number from the tool and
# from both of that release's JVMs and from the native example, built with
# that release's compiler and CMake. In the chroot, installing and removing
# leave its /sys alone; the init script opens the attributes at boot, and
# does nothing once the packages are removed. Debian 13's lintian checks the
# packages too.
# Usage: release-install.sh REPO-DIR JAR SUITE...
#        release-install.sh --demo ROOT... (`make demo` in pristine roots:
#                                           SUITE-pristine, bookworm-gtest)
#        release-install.sh --root SUITE   (makes the cached root if need be,
#                                           and prints its folder)
#
# With --demo, a new user's first command: the project's tree is copied into a
# minbase root of the release with make alone (SUITE-pristine), or with
# GoogleTest and Google Benchmark as well, as this project's own machines come
# (bookworm-gtest), and an apt source that cannot be reached; `make demo`
# there must set up, build and show the sample server's values with the
# host's target alone, and build no test.
#
# The roots (debootstrap, then the release's JVMs) are made once and kept
# under $OSIDENTITY_RELEASES (default /var/cache/osidentity/releases), and
# made again when what goes into them changes; a test runs on an overlay of
# one, so the cached root stays as it was made.
set -u
case ${1:-} in
--root | --make-root | --demo | --demo-test) ;;
*) repo=$1 jar=$2 && shift 2 ;;
esac
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tests/checks.sh"
cache=${OSIDENTITY_RELEASES:-/var/cache/osidentity/releases}
udi=/org/freedesktop/Hal/devices/computer
dmi=/sys/class/dmi/id
# The tool is not named: the library depends on it.
names="libosidentity-jni:amd64 libosidentity-jni:i386 libosidentity-dev:amd64 libosidentity-java"
# What the native example is built with, and the Java application, with
# javac and with Maven (whose compiler plugin's POMs name JUnit's).
tools="g++ make cmake pkg-config maven libmaven-compiler-plugin-java junit4 junit5"

# Each release and its own OpenJDK: the JDK for amd64, the JRE for i386.
# The amd64 JVM goes in first: the ca-certificates-java it brings runs java,
# which the emulated i386 JVM can hang in. Debian 13's root has its lintian
# too. A pristine root (the demo's) gets make alone, or GoogleTest's packages
# too: the demo installs the rest.
jre_of() { version=$("$top/scripts/roots" jre "$1") && echo "openjdk-$version-jre-headless"; }
jdk_of() { version=$("$top/scripts/roots" jre "$1") && echo "openjdk-$version-jdk-headless"; }
tools_of() {
	case $1 in
	trixie) echo "$tools lintian" ;;
	*) echo "$tools" ;;
	esac
}
contents_of() { # root: what it holds beyond minbase
	case $1 in
	*-pristine) echo make ;;
	*-gtest) echo make googletest libgtest-dev libbenchmark-dev ;;
	*) echo "$(jdk_of "$1") $(jre_of "$1") $(tools_of "$1")" ;;
	esac
}

# The Debian archive this machine's apt uses (or, with -security, its
# security archive).
mirror() { "$top/scripts/roots" mirror "$@"; } # [-security]

# Downloads fail for a moment now and then.
retry() {
	for delay in 5 20 60; do
		"$@" && return 0
		echo "release-install: retrying in ${delay}s: $*" >&2
		sleep $delay
	done
	"$@"
}

in_root() { # root, command...: with /proc and /dev, in this mount namespace
	dir=$1
	shift
	mountpoint -q "$dir/proc" || mount -t proc proc "$dir/proc"
	mountpoint -q "$dir/dev" || mount --rbind /dev "$dir/dev"
	chroot "$dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"
}

make_root() { # name (SUITE, or SUITE-KIND for a pristine root), root: run in a private mount namespace
	name=$1 suite=${1%%-*} root=$2 url=$(mirror)
	jre=$(jre_of "$suite") || { echo "unknown release $suite" >&2; return 1; }
	[ -n "$url" ] || { echo "no Debian archive in this machine's apt sources" >&2; return 1; }
	rm -rf "$root"
	if [ "$name" != "$suite" ]; then
		# As a new user's machine: the release's three suites, as the
		# installer writes them.
		retry debootstrap --variant=minbase --include="$(contents_of "$name")" \
			"$suite" "$root" "$url" || return 1
		printf 'deb %s %s main\n' "$url" "$suite" "$url" "$suite-updates" \
			"$(mirror -security)" "$suite-security" >"$root/etc/apt/sources.list"
		in_root "$root" apt-get clean && contents_of "$name" >"$root/.osidentity-ready"
		return
	fi
	retry debootstrap --variant=minbase --include=adduser "$suite" "$root" "$url" || return 1
	# The security suite of bullseye lacks the i386 files in this archive.
	printf 'deb %s %s main\n' "$url" "$suite" "$url" "$suite-updates" >"$root/etc/apt/sources.list"
	in_root "$root" dpkg --add-architecture i386 &&
		retry in_root "$root" apt-get update -q &&
		retry in_root "$root" apt-get install -y -q --no-install-recommends "$(jdk_of "$suite"):amd64" &&
		retry in_root "$root" apt-get install -y -q --no-install-recommends "$jre:i386" &&
		retry in_root "$root" apt-get install -y -q --no-install-recommends $(tools_of "$suite") &&
		in_root "$root" apt-get clean &&
		contents_of "$suite" >"$root/.osidentity-ready"
}

if [ "${1:-}" = --make-root ]; then
	make_root "$2" "$3"
	exit
fi

cached_root() { # suite: made once, and again when what goes into it changes
	[ "$(cat "$cache/$1/.osidentity-ready" 2>/dev/null)" = "$(contents_of "$1")" ] && return
	echo "== making a minbase root of $1 in $cache/$1 (once; some minutes)" >&2
	mkdir -p "$cache"
	unshare --mount --propagation private sh "$0" --make-root "$1" "$cache/$1" >"$cache/$1.log" 2>&1 ||
		{ tail -n 30 "$cache/$1.log"; echo "FAILED: $1: cannot make its root"; return 1; } >&2
}

overlay_root() { # suite, scratch: the cached root, written to on an overlay
	root=$2/root
	mkdir -p "$root" "$2/upper" "$2/work"
	mount -t overlay -o "lowerdir=$cache/$1,upperdir=$2/upper,workdir=$2/work" "$1" "$root"
}

# `make demo` as a new user runs it, in a private mount namespace. apt's
# downloads are kept for the next run.
if [ "${1:-}" = --demo-test ]; then
	name=$2 suite=${2%%-*} scratch=$3
	overlay_root "$name" "$scratch" || exit 1
	mkdir -p "$cache/$suite-archives"
	mount --bind "$cache/$suite-archives" "$root/var/cache/apt/archives" || exit 1
	echo "deb http://127.0.0.1:9/debian $suite main" >"$root/etc/apt/sources.list.d/unreachable.list"
	mkdir "$root/src"
	git -C "$top" ls-files -z | tar -C "$top" --null -T - -cf - | tar -C "$root/src" -xf -
	start=$(date +%s)
	out=$(in_root "$root" sh -c 'cd /src && HOST_SYS=examples/poweredge-r740 make demo' 2>&1)
	status=$?
	printf '%s\n' "$out" | sed "s/^/$name make demo: /"
	echo "$name: make demo took $(($(date +%s) - start)) s"
	sample=$top/examples/poweredge-r740/class/dmi/id
	preset=$("$top/scripts/targets" --host preset)
	check "$name: make demo succeeds" test $status -eq 0
	check "$name: it shows the sample's UUID" contains "$out" "hardware UUID: $(tr a-f A-F <$sample/product_uuid)"
	check "$name: it shows the sample's serial number" contains "$out" "serial number: $(cat $sample/product_serial)"
	check "$name: the C++ example shows them too" contains "$out" "C++ caller ($preset): hardware UUID:"
	check "$name: it names the index it could not fetch" contains "$out" "could not fetch http://127.0.0.1:9/"
	check "$name: at most 25 lines" test "$(printf '%s\n' "$out" | wc -l)" -le 25
	check "$name: no foreign architecture added" test -z "$(in_root "$root" dpkg --print-foreign-architectures)"
	installed() { in_root "$root" dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q ' installed$'; }
	for package in googletest valgrind podman qemu-user-static clang lintian dpkg-dev rpm; do
		case " $(contents_of "$name") " in *" $package "*) continue ;; esac
		check "$name: $package (the tests' alone) is not installed" fails installed "$package"
	done
	check "$name: the host's target alone is built" test "$(ls "$root/src/build" | grep -vx logs)" = "$preset"
	check "$name: no test is built" test ! -e "$root/src/build/$preset/tests"
	[ "$failures" -eq 0 ]
	exit
fi

# On an overlay of the cached root, over the sample server's DMI tree in the
# kernel's modes: run in a private mount namespace.
if [ "${1:-}" = --test ]; then
	suite=$2 scratch=$3
	overlay_root "$suite" "$scratch" || exit 1
	mount -t tmpfs -o mode=755 dmi-tree "$root/sys" || exit 1
	sample_dmi_tree "$root/sys"
	cp "$jar" "$root/tmp/"
	cp -R "$top/examples/native" "$root/tmp/"
	as_nobody() { in_root "$root" setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
	# The init script at boot: run by the root's first process, whose root
	# the root is, not in a chroot.
	boot() {
		unshare --mount --propagation private --pid --fork sh -c 'mount -t proc proc "$0/proc" &&
			exec chroot "$0" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /etc/init.d/osidentity-hal-tool start' "$root"
	}
	mode_in_root() { in_root "$root" stat -c '%a %U:%G' "$1"; } # the root's own group names

	# The repository as `make repo` made it, and two copies: one byte of a
	# Packages file changed (in each of its forms), and signed by another key.
	cp -R "$repo" "$root/tmp/repo"
	cp -R "$repo/debian" "$root/tmp/tampered"
	index=$root/tmp/tampered/dists/stable/main/binary-amd64/Packages
	sed -i '0,/^Priority: optional/s//Priority: Optional/' "$index"
	gzip -9n <"$index" >"$index.gz"
	cp -R "$repo/debian" "$root/tmp/foreign"
	export GNUPGHOME="$scratch/other-key"
	mkdir -m 700 "$GNUPGHOME"
	gpg --batch --quiet --passphrase '' --quick-generate-key "another key <other@example.org>" rsa3072 sign never
	gpg --batch --yes --quiet -o "$root/tmp/foreign/dists/stable/InRelease" --clearsign "$root/tmp/foreign/dists/stable/Release"
	gpg --batch --yes --quiet -o "$root/tmp/foreign/dists/stable/Release.gpg" -abs "$root/tmp/foreign/dists/stable/Release"
	gpgconf --kill gpg-agent
	# Each as the deb822 source that `make repo` wrote, with the keyring it exported.
	source_of() { # the repository's folder in the root
		sed "s|^URIs: .*|URIs: file:$1|; s|^Signed-By: .*|Signed-By: /tmp/repo/osidentity-archive-keyring.gpg|" \
			"$repo/osidentity.sources"
	}
	update_from() { # a folder of sources: apt-get update of those alone
		in_root "$root" apt-get update -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$1" \
			-o APT::Get::List-Cleanup=0 </dev/null 2>&1
	}
	while read -r copy refusal; do
		mkdir -p "$root/tmp/sources/$copy"
		source_of /tmp/$copy >"$root/tmp/sources/$copy/osidentity.sources"
		out=$(update_from /tmp/sources/$copy)
		printf '%s\n' "$out" | grep -E '^(E|W):' | sed "s/^/$suite apt, $copy: /"
		check "$suite: apt turns away the repository $copy" contains "$out" "$refusal"
	done <<-TABLE
		tampered Hash Sum mismatch
		foreign is not signed.
	TABLE
	source_of /tmp/repo/debian >"$root/etc/apt/sources.list.d/osidentity.sources"
	out=$(update_from /etc/apt/sources.list.d &&
		in_root "$root" apt-get install -y --no-install-recommends $names 2>&1)
	status=$?
	printf '%s\n' "$out" | grep -E '^(Get|Setting up|E:|W:| osidentity|  )' | sed "s/^/$suite apt: /"
	check "$suite: apt installs them all from the signed repository" test $status -eq 0
	check "$suite: apt --no-install-recommends installs the tool, which the library depends on" test \
		"$(in_root "$root" dpkg-query -W -f='${db:Status-Status}' osidentity-hal-tool)" = installed
	# A chroot's /sys may be the host's: installing in one leaves it alone,
	# and so do the RPM's scriptlets. The next boot opens the attributes.
	rpm -qp --qf '%{POSTIN}' "$repo"/rpm/osidentity-hal-tool-*."$("$top/scripts/targets" --host rpm)".rpm \
		>"$root/tmp/rpm-post"
	in_root "$root" sh /tmp/rpm-post 1
	for file in product_uuid product_serial; do
		check "$suite: in a chroot, apt and the RPM's post leave $file 400 root:root" \
			test "$(mode_in_root $dmi/$file)" = "400 root:root"
	done
	boot
	check "$suite: the example builds with pkg-config" in_root "$root" sh -c \
		'g++ -o /tmp/native/pkg-config /tmp/native/show-identity.cpp $(pkg-config --cflags --libs osidentity)'
	check "$suite: the example builds with CMake" in_root "$root" sh -c \
		'{ cmake -S /tmp/native -B /tmp/native/cmake && cmake --build /tmp/native/cmake; } >/dev/null' 
	while read -r file modes; do
		check "$suite: $file is $modes" test "$(mode_in_root "$file")" = "$modes"
	done <<-TABLE
		$dmi/product_uuid 440 root:osidentity
		$dmi/product_serial 440 root:osidentity
		/usr/bin/hal-get-property 2755 root:osidentity
	TABLE
	check "$suite: nobody cannot read product_uuid directly" fails as_nobody cat $dmi/product_uuid
	while read -r key expected; do
		check "$suite: nobody asks the tool for $key" \
			test "$(as_nobody hal-get-property --udi $udi --key "$key")" = "$expected"
	done <<-TABLE
		system.hardware.uuid $uuid
		smbios.system.serial $serial
	TABLE
	# amd64, then i386; Debian's java-1.N.0-openjdk-* are links to these.
	for java in "$root"/usr/lib/jvm/java-[0-9][0-9]-openjdk-*/bin/java; do
		# shellcheck disable=SC2046
		out=$(as_nobody "${java#"$root"}" $("$top/scripts/jvm-options" "$java") -jar /tmp/"$(basename "$jar")" 2>&1)
		printf '%s\n' "$out" | sed "s/^/$suite: /"
		check "$suite: ${java#"$root"} as nobody gets the UUID" contains "$out" "hardware UUID: $uuid"
		check "$suite: ${java#"$root"} as nobody gets the serial number" contains "$out" "serial number: $serial"
	done
	for example in /tmp/native/pkg-config /tmp/native/cmake/show-identity; do
		check "$suite: $example as nobody gets both values" test "$(as_nobody $example)" = \
			"$(printf 'hardware UUID: %s\nserial number: %s' "$uuid" "$serial")"
	done

	# The Java example, built as its developers build it: with javac against
	# the installed jar, and with Maven (the release's own, and its compiler
	# plugin), offline from the package's POM in /usr/share/maven-repo, and
	# from the repository's artifact (whose signatures the package test
	# checks). Each build runs as nobody.
	cp -R "$top/examples/java" "$root/tmp/"
	version=$(sed -n 's|.*<release>\(.*\)</release>|\1|p' "$repo/maven/org/korvane/mardel/osidentity/maven-metadata.xml")
	artifact=org/korvane/mardel/osidentity/$version/osidentity-$version.jar
	java=/usr/lib/jvm/java-$("$top/scripts/roots" jre "$suite")-openjdk-amd64/bin/java
	plugin=$(cd "$root/usr/share/maven-repo/org/apache/maven/plugins/maven-compiler-plugin" && ls -d */*.jar | head -n 1)
	maven() { # its local repository (a copy of Debian's), then the artifact's repository, or - offline
		in_root "$root" sh -c 'local=$1 remote=$2 plugin=$3
			rm -rf "$local" /tmp/java/target && cp -RL /usr/share/maven-repo "$local" || exit
			where=-o
			[ "$remote" = - ] || { rm -rf "$local/org/korvane" && where=-Dosidentity.repository=$remote; }
			cd /tmp/java && mvn -B -q -Dstyle.color=never -Dmaven.repo.local="$local" "$where" \
				"org.apache.maven.plugins:maven-compiler-plugin:$plugin:compile"' - "$@" "${plugin%/*}"
	}
	check "$suite: javac builds the Java example against /usr/share/java/osidentity.jar" in_root "$root" \
		javac -d /tmp/java/javac -cp /usr/share/java/osidentity.jar /tmp/java/src/main/java/ShowIdentity.java
	while read -r classpath local remote how; do
		[ "$local" = - ] || check "$suite: $how builds the Java example" maven "$local" "$remote" </dev/null
		out=$(as_nobody "$java" -cp "$classpath" ShowIdentity </dev/null 2>&1)
		check "$suite: the Java example built with $how gets both values as nobody" test "$out" = \
			"$(printf 'hardware UUID: %s\nserial number: %s' "$uuid" "$serial")"
	done <<-TABLE
		/tmp/java/javac:/usr/share/java/osidentity.jar - - javac
		/tmp/java/target/classes:/tmp/m2-offline/$artifact /tmp/m2-offline - Maven offline, from /usr/share/maven-repo
		/tmp/java/target/classes:/tmp/m2/$artifact /tmp/m2 file:///tmp/repo/maven Maven, from the repository
	TABLE

	check "$suite: apt removes them all" in_root "$root" apt-get remove -y -q $names osidentity-hal-tool
	for file in product_uuid product_serial; do
		check "$suite: in a chroot, removal leaves $file 440 root:osidentity" \
			test "$(mode_in_root $dmi/$file)" = "440 root:osidentity"
	done
	# The next boot, in the kernel's modes: the script that removal leaves
	# behind does nothing.
	chown root:root "$root$dmi/product_uuid" "$root$dmi/product_serial"
	chmod 0400 "$root$dmi/product_uuid" "$root$dmi/product_serial"
	boot
	for file in product_uuid product_serial; do
		check "$suite: after removal and a boot, $file is 400 root:root" \
			test "$(mode_in_root $dmi/$file)" = "400 root:root"
	done
	if [ -x "$root/usr/bin/lintian" ]; then
		mkdir "$root/tmp/debs"
		find "$repo/debian/pool" -name '*.deb' -exec cp {} "$root/tmp/debs/" \;
		out=$(in_root "$root" sh -c 'lintian --fail-on error,warning /tmp/debs/*.deb' 2>&1)
		status=$?
		printf '%s\n' "$out" | sed "s/^/$suite lintian: /"
		check "$suite: its lintian finds no error and no warning" test $status -eq 0
	fi
	[ "$failures" -eq 0 ]
	exit
fi

if [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: making release roots and installing packages needs root"
	exit 77
fi
if [ "${1:-}" = --root ]; then
	cached_root "$2" && echo "$cache/$2"
	exit
fi
if [ "${1:-}" = --demo ]; then
	shift
	status=0
	for name; do
		cached_root "$name" || { status=1; continue; }
		scratch=$(mktemp -d)
		unshare --mount --propagation private sh "$0" --demo-test "$name" "$scratch" || status=1
		rm -rf "$scratch"
	done
	exit $status
fi
status=0
# The roots are made side by side (mostly downloads), each then tested.
making=""
for suite in "$@"; do
	cached_root "$suite" &
	making="$making $suite:$!"
done
for made in $making; do
	suite=${made%:*}
	wait "${made#*:}" || { status=1; continue; }
	scratch=$(mktemp -d)
	unshare --mount --propagation private sh "$0" "$repo" "$jar" --test "$suite" "$scratch" ||
		status=1
	rm -rf "$scratch"
done
exit $status
