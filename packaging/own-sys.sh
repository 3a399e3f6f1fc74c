# Whether /sys is this machine's own to change: not a chroot's (schroot,
# sbuild, rpm --root, mock, or a mount namespace that shares its PID 1 with
# another), whose /sys may be the host's, nor a container's, where a
# privileged one sees the host's /sys with the container's groups. The
# boot-time rule opens the attributes where the tree boots.
own_sys() {
	[ "$(stat -Lc %d:%i /proc/1/root 2>/dev/null)" = "$(stat -c %d:%i /)" ] || return 1
	if command -v systemd-detect-virt >/dev/null 2>&1 && systemd-detect-virt --quiet --container; then
		return 1
	fi
	[ ! -e /run/.containerenv ] && [ ! -e /.dockerenv ] || return 1
	! tr '\0' '\n' </proc/1/environ 2>/dev/null | grep -q '^container='
}
