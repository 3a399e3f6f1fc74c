/*
 * hal-get-property: answers HAL's questions about the computer from the
 * kernel's firmware tables, for systems that no longer have HAL.
 *
 *   hal-get-property --udi /org/freedesktop/Hal/devices/computer --key KEY
 *
 * prints the property's value and a line feed, or nothing (and a line on
 * standard error) when it has none. Each key has an ordered list of sources,
 * and the first with a value answers: DMI's attributes under
 * $HOST_SYS/class/dmi/id/ first, then, for the UUID and the serial number,
 * the device tree ($HOST_SYS/firmware/devicetree/base/), IBM Z's
 * $HOST_PROC/sysinfo and other files under $HOST_SYS. HOST_SYS defaults to
 * /sys, HOST_PROC to /proc.
 *
 * It may be installed set-group-ID to a group that can read the DMI
 * attributes that only root can read by default; it then opens one of them
 * with that group and gives the group up before it reads or writes anything.
 * Every other source is world-readable and is opened after that.
 */
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "firmware-tables.h"

namespace {

const char computer_udi[] = "/org/freedesktop/Hal/devices/computer";
const char usage[] = "usage: hal-get-property --udi UDI --key KEY\n";

enum exit_code { found = 0, no_value = 1, bad_usage = 2 };

bool repeats_one_character(const char *text, size_t length)
{
	if (length < 2)
		return false;
	for (size_t i = 1; i < length; i++)
		if (tolower((unsigned char)text[i]) != tolower((unsigned char)text[0]))
			return false;
	return true;
}

bool is_placeholder(value_kind kind, const char *source, const char *value, size_t length)
{
	while (length > 0 && isspace((unsigned char)value[0])) {
		value++;
		length--;
	}
	while (length > 0 && isspace((unsigned char)value[length - 1]))
		length--;
	for (const placeholder &p : placeholders) {
		if (p.kind != kind || (p.source && strcmp(p.source, source) != 0))
			continue;
		if (p.value ? strlen(p.value) == length && strncasecmp(p.value, value, length) == 0
			    : repeats_one_character(value, length))
			return true;
	}
	return false;
}

const property *property_of(const char *key)
{
	for (const property &p : properties)
		if (strcmp(p.key, key) == 0)
			return &p;
	return nullptr;
}

struct options {
	const char *udi = nullptr;
	const char *key = nullptr;
	bool help = false;
};

bool parse(int argc, char **argv, options &o)
{
	if (argc == 2 && strcmp(argv[1], "--help") == 0) {
		o.help = true;
		return true;
	}
	for (int i = 1; i < argc; i += 2) {
		const char **slot = strcmp(argv[i], "--udi") == 0   ? &o.udi
				    : strcmp(argv[i], "--key") == 0 ? &o.key
								    : nullptr;
		if (!slot || *slot || i + 1 >= argc)
			return false;
		*slot = argv[i + 1];
	}
	return o.udi && o.key;
}

/* A set-group-ID or privileged copy must not be pointed elsewhere. */
const char *host_folder(const char *variable, const char *fallback)
{
	const char *folder = secure_getenv(variable);
	return folder && *folder ? folder : fallback;
}

/* The DMI attribute, opened while the tool may still hold its group. */
struct attribute_file {
	const property *key = nullptr; // null for a key not in the table
	char path[4096] = "";	       // empty when HOST_SYS makes it too long
	int fd = -1;
	int error = 0;	      // errno of the failed open
	gid_t held_group = 0; // the effective group the tool started with
};

/* The one thing the tool does with the group it may be installed with: it
 * opens the attribute that the key names, and nothing else. */
void open_attribute(const char *key, attribute_file &file)
{
	file.held_group = getegid();
	file.key = property_of(key);
	if (!file.key)
		return;
	if (snprintf(file.path, sizeof file.path, "%s/class/dmi/id/%s",
		     host_folder("HOST_SYS", "/sys"),
		     file.key->attribute) >= (int)sizeof file.path) {
		file.path[0] = '\0';
		return;
	}
	file.fd = open(file.path, O_RDONLY | O_CLOEXEC);
	if (file.fd < 0)
		file.error = errno;
}

/* Installed set-group-ID, the tool runs with a group its caller lacks. The
 * open file keeps its access; everything after the open runs without it. */
bool give_up_group()
{
	gid_t real = getgid();
	return getegid() == real || setresgid(real, real, real) == 0;
}

/* Reads the whole attribute into buffer and closes it. Returns 0, or the
 * errno value of the failure. */
int read_attribute(int fd, char *buffer, size_t size, size_t &length)
{
	int error = 0;
	length = 0;
	char beyond; // a full buffer is too small only if a byte follows
	for (;;) {
		bool full = length == size;
		ssize_t n = full ? read(fd, &beyond, 1) : read(fd, buffer + length, size - length);
		if (n > 0 && full) {
			error = EFBIG;
			break;
		}
		if (n > 0)
			length += n;
		else if (n == 0)
			break;
		else if (errno != EINTR) {
			error = errno;
			break;
		}
	}
	close(fd);
	return error;
}

/* Whether a group of the outer system has a number in this process's user
 * namespace (systemd's PrivateUsers=, a rootless container): one that has
 * none shows as the overflow group, 65534, which it is not. */
bool group_mapped(gid_t gid)
{
	FILE *map = fopen("/proc/self/gid_map", "re");
	if (!map)
		return true;
	unsigned long inside, outside, count;
	bool mapped = false;
	while (!mapped && fscanf(map, "%lu %lu %lu", &inside, &outside, &count) == 3)
		mapped = gid >= inside && gid - inside < count;
	fclose(map);
	return mapped;
}

/* For an attribute that the caller may not read: who may, so that a caller
 * in a container learns which group to join (--group-add, a Pod's
 * supplementalGroups). Empty when the file cannot be looked at. */
void describe_readers(const char *path, char *text, size_t size)
{
	struct stat st;
	text[0] = '\0';
	if (stat(path, &st) != 0)
		return;
	if (!group_mapped(st.st_gid))
		snprintf(text, size, " (its group is not mapped in this user namespace)");
	else if (st.st_mode & S_IRGRP)
		snprintf(text, size, " (a caller in group %u, or root, can read it)",
			 (unsigned)st.st_gid);
	else
		snprintf(text, size, " (mode %04o, owner uid %u: no group can read it)",
			 (unsigned)(st.st_mode & 07777), (unsigned)st.st_uid);
}

/* The name of a group from /etc/group (without NSS, which a static program
 * cannot load), cut to fit name, or false. */
bool group_name(gid_t gid, char *name, size_t size)
{
	FILE *groups = fopen("/etc/group", "re");
	if (!groups)
		return false;
	char *line = nullptr;
	size_t capacity = 0;
	ssize_t length;
	bool found = false;
	/* getline, not fgets: a line may hold a NUL byte. */
	while (!found && (length = getline(&line, &capacity, groups)) > 0) {
		/* name:password:gid:members */
		char *end = line + length;
		auto *name_end = static_cast<char *>(memchr(line, ':', length));
		auto *gid_field =
			name_end
				? static_cast<char *>(memchr(name_end + 1, ':', end - name_end - 1))
				: nullptr;
		if (!gid_field || strtoul(gid_field + 1, nullptr, 10) != gid)
			continue;
		snprintf(name, size, "%.*s", (int)(name_end - line), line);
		found = true;
	}
	free(line);
	fclose(groups);
	return found;
}

/* The tool's own file and the mount it is on. qemu-user answers for the
 * emulated program's file here, not its own. */
bool stat_own_file(struct stat &st, struct statvfs &mount)
{
	int exe = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
	bool known = exe >= 0 && fstat(exe, &st) == 0 && fstatvfs(exe, &mount) == 0;
	if (exe >= 0)
		close(exe);
	return known;
}

/* A copy installed set-group-ID that ran without its group: says so, why,
 * and which group the caller needs instead. Empty otherwise. */
void describe_lost_group(gid_t held_group, char *text, size_t size)
{
	struct stat st;
	struct statvfs mount;
	text[0] = '\0';
	if (!stat_own_file(st, mount) || !(st.st_mode & S_ISGID) || st.st_gid == held_group)
		return;
	if (!group_mapped(st.st_gid)) {
		snprintf(text, size,
			 "; the tool's group is not mapped in this user namespace either, so it "
			 "was not applied: give the caller the file's group outside the "
			 "namespace, or run it without PrivateUsers=");
		return;
	}
	const char *why = prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1 ? "no_new_privs is set"
			  : mount.f_flag & ST_NOSUID ? "its file is on a nosuid mount"
						     : "the cause is unknown (a tracer, a user "
						       "namespace or a security module can do it)";
	char name[65];
	bool named = group_name(st.st_gid, name, sizeof name);
	snprintf(text, size,
		 "; the tool's group %s%s(gid %u) was not applied: %s; give the caller that "
		 "group (SupplementaryGroups=, --group-add, a Pod's supplementalGroups)",
		 named ? name : "", named ? " " : "", (unsigned)st.st_gid, why);
}

/* Run privileged, the tool reads /sys and /proc alone, whatever HOST_SYS and
 * HOST_PROC say: the line says so, lest the caller look for the cause in
 * the tree they name. Empty otherwise. */
void describe_ignored_folders(char *text, size_t size)
{
	const char *sys = getenv("HOST_SYS"), *proc = getenv("HOST_PROC");
	bool ignores_sys = sys && *sys, ignores_proc = proc && *proc;
	text[0] = '\0';
	if (!getauxval(AT_SECURE) || (!ignores_sys && !ignores_proc))
		return;
	const char *which = ignores_sys && ignores_proc ? "HOST_SYS and HOST_PROC were"
			    : ignores_sys		? "HOST_SYS was"
							: "HOST_PROC was";
	snprintf(text, size,
		 "; %s ignored: the tool runs set-group-ID, and then reads /sys and /proc alone "
		 "(it honours them without privileges: with no_new_privs, as "
		 "allowPrivilegeEscalation: false sets)",
		 which);
}

bool write_all(int fd, const char *bytes, size_t length)
{
	while (length > 0) {
		ssize_t n = write(fd, bytes, length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		bytes += n;
		length -= n;
	}
	return true;
}

/* Where a source's value lies in its file's bytes; false where it holds none. */
bool find_value(const source &from, char *bytes, size_t size, char *&value, size_t &length)
{
	value = bytes;
	length = size;
	if (from.kind == device_tree) {
		length = strnlen(bytes, size);
		return true;
	}
	if (from.kind == sysfs_file) {
		if (length > 0 && bytes[length - 1] == '\n')
			length--;
		return true;
	}
	/* sysinfo: "Name:", spaces, then the value, padded with spaces. */
	bool found = false;
	for (char *line = bytes, *end; line < bytes + size; line = end + 1) {
		end = static_cast<char *>(memchr(line, '\n', bytes + size - line));
		if (!end)
			end = bytes + size;
		char *colon = static_cast<char *>(memchr(line, ':', end - line));
		if (!colon)
			continue;
		size_t name_length = colon - line;
		auto names = [&](const char *name) {
			return name && strlen(name) == name_length &&
			       memcmp(line, name, name_length) == 0;
		};
		if (names(from.unless))
			return false;
		if (!names(from.name) || found)
			continue;
		found = true;
		for (value = colon + 1; value < end && *value == ' ';)
			value++;
		for (length = end - value; length > 0 && value[length - 1] == ' ';)
			length--;
	}
	return found;
}

/* Reads one source other than DMI, after the group is given up. */
bool read_source(const source &from, char *bytes, size_t size, char *&value, size_t &length)
{
	char path[4096];
	int written = from.kind == sysinfo ? snprintf(path, sizeof path, "%s/sysinfo",
						      host_folder("HOST_PROC", "/proc"))
		      : from.kind == device_tree
			      ? snprintf(path, sizeof path, "%s/firmware/devicetree/base/%s",
					 host_folder("HOST_SYS", "/sys"), from.name)
			      : snprintf(path, sizeof path, "%s/%s",
					 host_folder("HOST_SYS", "/sys"), from.name);
	if (written >= (int)sizeof path)
		return false;
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	size_t read_bytes;
	return fd >= 0 && read_attribute(fd, bytes, size, read_bytes) == 0 &&
	       find_value(from, bytes, read_bytes, value, length);
}

/* Prints the value and a line feed. HAL took the UUID from dmidecode, which
 * prints it in upper case; values bound to what HAL said must keep matching.
 * bytes has room for the line feed behind the value. */
int print_value(const char *key, value_kind kind, char *bytes, const char *value, size_t length)
{
	memmove(bytes, value, length);
	if (kind == uuid)
		for (size_t i = 0; i < length; i++)
			if (bytes[i] >= 'a' && bytes[i] <= 'z')
				bytes[i] = bytes[i] - 'a' + 'A';
	bytes[length++] = '\n';
	if (!write_all(STDOUT_FILENO, bytes, length)) {
		fprintf(stderr, "hal-get-property: %s: cannot write: %s\n", key, strerror(errno));
		return no_value;
	}
	return found;
}

/* A value from the first source that has one; DMI's attribute first. */
int print_property(const char *key, attribute_file &file)
{
	if (!file.key) {
		fprintf(stderr, "hal-get-property: %s: unknown key\n", key);
		return no_value;
	}
	if (!*file.path) {
		fprintf(stderr, "hal-get-property: %s: HOST_SYS is too long\n", key);
		return no_value;
	}
	value_kind kind = file.key->kind;

	/* A sysfs attribute is at most a page; room for the line feed behind it. */
	char bytes[4096 + 1];
	size_t length = 0;
	if (file.fd >= 0)
		file.error = read_attribute(file.fd, bytes, sizeof bytes - 1, length);
	if (length > 0 && bytes[length - 1] == '\n')
		length--;
	/* Why DMI has no value, for the line on standard error. */
	char reason[4096 + 800];
	if (file.error) {
		char readers[80] = "", lost_group[512] = "";
		if (file.error == EACCES) {
			describe_readers(file.path, readers, sizeof readers);
			describe_lost_group(file.held_group, lost_group, sizeof lost_group);
		}
		snprintf(reason, sizeof reason, "%s: %s%s%s", file.path, strerror(file.error),
			 readers, lost_group);
	} else if (length == 0) {
		snprintf(reason, sizeof reason, "%s is empty", file.path);
	} else if (is_placeholder(kind, file.key->attribute, bytes, length)) {
		snprintf(reason, sizeof reason, "%s holds a firmware placeholder", file.path);
	} else {
		return print_value(key, kind, bytes, bytes, length);
	}

	/* The other sources hold at most a page too, but /proc/sysinfo. */
	static char other[64 * 1024 + 1];
	for (const source *from = file.key->others; from->kind != end_of_sources; from++) {
		char *value;
		if (read_source(*from, other, sizeof other - 1, value, length) && length > 0 &&
		    !is_placeholder(kind, from->name, value, length))
			return print_value(key, kind, other, value, length);
	}

	char ignored[300];
	describe_ignored_folders(ignored, sizeof ignored);
	if (file.key->others == dmi_alone)
		fprintf(stderr, "hal-get-property: %s: no value: %s%s\n", key, reason, ignored);
	else if (file.error && file.error != ENOENT)
		fprintf(stderr, "hal-get-property: %s: no value: %s; no other source had one%s\n",
			key, reason, ignored);
	else if (file.error)
		fprintf(stderr, "hal-get-property: %s: no source had a value%s\n", key, ignored);
	else
		fprintf(stderr, "hal-get-property: %s: no source had a value (%s)%s\n", key, reason,
			ignored);
	return no_value;
}

} // namespace

int main(int argc, char **argv)
{
	options o;
	bool parsed = parse(argc, argv, o);
	bool computer = parsed && !o.help && strcmp(o.udi, computer_udi) == 0;
	attribute_file file;
	if (computer)
		open_attribute(o.key, file);
	if (!give_up_group()) {
		fprintf(stderr, "hal-get-property: cannot give up group %d: %s\n", (int)getegid(),
			strerror(errno));
		return no_value;
	}

	if (!parsed) {
		fputs(usage, stderr);
		return bad_usage;
	}
	if (o.help) {
		fputs(usage, stdout);
		return fflush(stdout) == 0 ? found : no_value;
	}
	if (!computer) {
		fprintf(stderr, "hal-get-property: %s: no such device\n", o.udi);
		return no_value;
	}
	return print_property(o.key, file);
}
