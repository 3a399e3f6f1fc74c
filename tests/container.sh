#!/bin/sh
# Java services in containers get the UUID and serial number, or null, as the
# README's table of cases says: with Podman and runc, rootful and offline. The
# image is examples/container/Containerfile over the cached Debian 13 root of
# the release test (OpenJDK 21); the Kubernetes manifests of examples/ run
# with `podman kube play`, their image replaced. A DMI tree in the kernel's
# format stands in for the host's /sys (a bind mount that the test's own
# containers.conf adds to every container): a host with osidentity-hal-tool
# (0440, group 942), or one with nothing installed (0400 root:root).
# Usage: container.sh   (after make package)
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tests/checks.sh"
host_gid=942 # a system group's, as addgroup --system makes it on a host
store=${OSIDENTITY_CONTAINERS:-/var/cache/osidentity/containers}
# The store's state, cleared at boot. (A run root that ends in
# containers/storage, as $store/storage would, costs Podman 4.3 twenty
# seconds a container.)
run=/run/osidentity-containers-$(printf '%s' "$store" | cksum | cut -d ' ' -f 1)

if [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: the test runs Podman rootful, which needs root"
	exit 77
fi
command -v podman >/dev/null || { echo "FAILED: Podman is not installed (make deps installs it)"; exit 1; }
base_root=$("$top/tests/release-install.sh" --root trixie) || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# This machine's quirks: cgroup v1 without systemd managing it (runc and
# cgroupfs), and no CAP_SYS_RESOURCE to raise the limits that Podman sets by
# default (the containers keep the host's). Podman's own store, kept for the
# base image, under $store, with state of its own under $run.
containers_conf() { # the DMI tree that stands in for /sys
	cat <<-EOF
		[containers]
		default_ulimits = []
		volumes = ["$1:/sys:ro"]
		[engine]
		runtime = "runc"
		cgroup_manager = "cgroupfs"
		events_logger = "file"
		tmp_dir = "$run/libpod"
	EOF
}
printf '[storage]\ndriver = "overlay"\ngraphroot = "%s"\nrunroot = "%s"\n' \
	"$store" "$run/storage" >"$scratch/storage.conf"
export CONTAINERS_STORAGE_CONF="$scratch/storage.conf"
while read -r host mode group; do
	mkdir -p "$scratch/$host/fs/cgroup" # where the engine mounts the cgroups
	sample_dmi_tree "$scratch/$host" "$mode" "$group"
	containers_conf "$scratch/$host" >"$scratch/$host.conf"
done <<-TABLE
	installed 0440 $host_gid
	bare 0400 root
TABLE
export CONTAINERS_CONF="$scratch/installed.conf"

# The configuration is the test's own: Podman refusing it is a failure.
if ! reason=$(podman info 2>&1 >/dev/null); then
	echo "FAILED: Podman refuses the test's configuration: $(printf '%s\n' "$reason" | tail -n 1)"
	exit 1
fi

# The base image: the release root, imported once for each time it is made.
base=localhost/osidentity-base:trixie-$(stat -c %Y "$base_root/.osidentity-ready")
if ! podman image exists "$base"; then
	podman images -q --filter reference='localhost/osidentity-base' | xargs -r podman rmi -f >/dev/null
	echo "== importing $base_root as $base (once)"
	tar -C "$base_root" -c . | podman import -q - "$base" >/dev/null || exit 1
fi
build() { # Containerfile, image, options: from the project root
	file=$1 tag=$2
	shift 2
	podman build -q --network none -f "$file" -t "$tag" --build-arg BASE="$base" "$@" "$top" >/dev/null
}
for image in gid plain; do
	gid_argument=
	[ $image = gid ] && gid_argument="--build-arg OSIDENTITY_GID=$host_gid"
	# shellcheck disable=SC2086
	check "the Containerfile builds ${gid_argument:-without OSIDENTITY_GID}" \
		build "$top/examples/container/Containerfile" localhost/osidentity-demo:$image $gid_argument
done
# The project root as a build context holds what the Containerfile copies.
printf 'ARG BASE\nFROM $BASE\nCOPY . /context\n' >"$scratch/Containerfile"
build "$scratch/Containerfile" localhost/osidentity-context
sent=$(podman run --rm --network none localhost/osidentity-context find /context -type f | sort)
check "the build context holds the .deb files and the jar alone" test "$sent" = \
	"$(cd "$top" && ls build/packages/*.deb build/x86_64/java/osidentity.jar | sed 's|^|/context/|')"

# The Java demo's output in a container: podman run with OPTIONS, or
# podman kube play of a manifest of examples/kubernetes with the image and
# the host's gid put in, and an optional sed command applied.
in_container() { # image, run|kube, OPTIONS... | MANIFEST [SED]
	image=localhost/osidentity-demo:$1 how=$2
	shift 2
	if [ "$how" = run ]; then
		podman run --rm --network none "$@" "$image" 2>&1
		return
	fi
	sed -e "s|image: .*|image: $image|" -e "s/\[998\]/[$host_gid]/" -e "${2:-}" \
		"$top/examples/kubernetes/$1" >"$scratch/pod.yaml"
	pod=$(sed -n 's/^  name: //p' "$scratch/pod.yaml")
	# Podman reports, harmlessly, that the finished init container is gone.
	podman kube play -q --network none "$scratch/pod.yaml" >/dev/null 2>"$scratch/play.log" &&
		podman wait "$pod-service" >/dev/null &&
		podman logs "$pod-service" 2>&1 || cat "$scratch/play.log"
	podman kube down "$scratch/pod.yaml" >/dev/null 2>&1
}

while read -r expected host image how options; do
	export CONTAINERS_CONF="$scratch/$host.conf"
	# shellcheck disable=SC2086
	out=$(in_container $image $how $options)
	printf '%s\n' "$out" | sed 's/^/  | /'
	case="$host host, $image image, $how${options:+ $options}:"
	if [ "$expected" = values ]; then
		check "$case Java gets the UUID" contains "$out" "hardware UUID: $uuid"
		check "$case Java gets the serial number" contains "$out" "serial number: $serial"
	else
		check "$case Java gets null" contains "$out" "no hardware UUID is available"
		check "$case the tool names the group that can read" \
			contains "$out" "Permission denied (a caller in group $host_gid, or root, can read it)"
	fi
done <<-TABLE
	values installed gid run --user 0 --cap-drop ALL
	values installed gid run
	null installed gid run --security-opt no-new-privileges
	values installed gid run --group-add $host_gid --security-opt no-new-privileges --cap-drop ALL
	null installed plain run
	values installed plain run --group-add $host_gid --security-opt no-new-privileges --cap-drop ALL
	values installed plain kube host-tool-pod.yaml
	null installed plain kube host-tool-pod.yaml /supplementalGroups/d
	values bare plain kube no-install-pod.yaml
TABLE
podman image prune -f >/dev/null
# Podman mounts no token; Kubernetes would, unless the Pod says not to.
for manifest in "$top"/examples/kubernetes/*.yaml; do
	check "${manifest##*/} mounts no ServiceAccount token" \
		grep -qx '  automountServiceAccountToken: false' "$manifest"
done

[ "$failures" -eq 0 ]
