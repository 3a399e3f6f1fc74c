/*
 * hal-get-property: answers HAL's questions about the computer from the
 * kernel's DMI attributes, for systems that no longer have HAL.
 *
 *   hal-get-property --udi /org/freedesktop/Hal/devices/computer --key KEY
 *
 * prints the property's value and a line feed, or nothing (and a line on
 * standard error) when it has none. The attributes are read under
 * $HOST_SYS/class/dmi/id/ (HOST_SYS defaults to /sys).
 *
 * It may be installed set-group-ID to a group that can read the attributes
 * that only root can read by default; it then opens one of them with that
 * group and gives the group up before it reads or writes anything.
 */
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char computer_udi[] = "/org/freedesktop/Hal/devices/computer";
const char usage[] = "usage: hal-get-property --udi UDI --key KEY\n";

enum exit_code { found = 0, no_value = 1, bad_usage = 2 };

struct property {
	const char *key;
	const char *attribute;
};

/* The only way from a key to a file: keys name no paths. */
const property properties[] = {
	{"system.hardware.uuid", "product_uuid"},
	{"smbios.system.uuid", "product_uuid"},
	{"system.hardware.serial", "product_serial"},
	{"smbios.system.serial", "product_serial"},
	{"system.hardware.vendor", "sys_vendor"},
	{"smbios.system.manufacturer", "sys_vendor"},
	{"system.hardware.product", "product_name"},
	{"smbios.system.product", "product_name"},
	{"system.hardware.version", "product_version"},
	{"smbios.system.version", "product_version"},
	{"system.firmware.vendor", "bios_vendor"},
	{"smbios.bios.vendor", "bios_vendor"},
	{"system.firmware.version", "bios_version"},
	{"smbios.bios.version", "bios_version"},
	{"system.firmware.release_date", "bios_date"},
	{"smbios.bios.release_date", "bios_date"},
	{"system.chassis.manufacturer", "chassis_vendor"},
	{"smbios.chassis.manufacturer", "chassis_vendor"},
};

/* Values that firmware leaves where its maker set none, shared by thousands
 * of machines: they identify no machine, so the tool has no value for them.
 * Compared without regard to case, with surrounding white space removed. A
 * null value stands for one character, repeated ("0000", "XXXX", "****"). */
struct placeholder {
	const char *attribute;
	const char *value;
};

const placeholder placeholders[] = {
	{"product_uuid", "00000000-0000-0000-0000-000000000000"}, // not present
	{"product_uuid", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"}, // not set
	{"product_uuid", "03000200-0400-0500-0006-000700080009"}, // AMI's default
	{"product_serial", "To Be Filled By O.E.M."},
	{"product_serial", "Default string"},
	{"product_serial", "System Serial Number"},
	{"product_serial", "Not Specified"},
	{"product_serial", "Not Applicable"},
	{"product_serial", "None"},
	{"product_serial", "N/A"},
	{"product_serial", "0123456789"},
	{"product_serial", nullptr},
};

bool repeats_one_character(const char *text, size_t length)
{
	if (length < 2)
		return false;
	for (size_t i = 1; i < length; i++)
		if (tolower((unsigned char)text[i]) != tolower((unsigned char)text[0]))
			return false;
	return true;
}

bool is_placeholder(const char *attribute, const char *value, size_t length)
{
	while (length > 0 && isspace((unsigned char)value[0])) {
		value++;
		length--;
	}
	while (length > 0 && isspace((unsigned char)value[length - 1]))
		length--;
	for (const placeholder &p : placeholders) {
		if (strcmp(p.attribute, attribute) != 0)
			continue;
		if (p.value ? strlen(p.value) == length && strncasecmp(p.value, value, length) == 0
			    : repeats_one_character(value, length))
			return true;
	}
	return false;
}

const char *attribute_of(const char *key)
{
	for (const property &p : properties)
		if (strcmp(p.key, key) == 0)
			return p.attribute;
	return nullptr;
}

/* HAL took the UUID from dmidecode, which prints it in upper case; values
 * bound to what HAL said must keep matching. */
bool is_uuid(const char *attribute)
{
	return strcmp(attribute, "product_uuid") == 0;
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

/* An attribute, opened while the tool may still hold its group. */
struct attribute_file {
	const char *attribute = nullptr; // null for a key not in the table
	char path[4096] = "";		 // empty when HOST_SYS makes it too long
	int fd = -1;
	int error = 0; // errno of the failed open
};

/* The one thing the tool does with the group it may be installed with: it
 * opens the attribute that the key names, and nothing else. */
void open_attribute(const char *key, attribute_file &file)
{
	file.attribute = attribute_of(key);
	if (!file.attribute)
		return;
	/* A set-group-ID or privileged copy must not be pointed elsewhere. */
	const char *sys = secure_getenv("HOST_SYS");
	if (!sys || !*sys)
		sys = "/sys";
	if (snprintf(file.path, sizeof file.path, "%s/class/dmi/id/%s", sys, file.attribute) >=
	    (int)sizeof file.path) {
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
	for (;;) {
		if (length == size) {
			error = EFBIG;
			break;
		}
		ssize_t n = read(fd, buffer + length, size - length);
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

/* For an attribute that the caller may not read: who may, so that a caller
 * in a container learns which group to join (--group-add, a Pod's
 * supplementalGroups). Empty when the file cannot be looked at. */
void describe_readers(const char *path, char *text, size_t size)
{
	struct stat st;
	text[0] = '\0';
	if (stat(path, &st) != 0)
		return;
	if (st.st_mode & S_IRGRP)
		snprintf(text, size, " (a caller in group %u, or root, can read it)",
			 (unsigned)st.st_gid);
	else
		snprintf(text, size, " (mode %04o, owner uid %u: no group can read it)",
			 (unsigned)(st.st_mode & 07777), (unsigned)st.st_uid);
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

int print_property(const char *key, attribute_file &file)
{
	if (!file.attribute) {
		fprintf(stderr, "hal-get-property: %s: unknown key\n", key);
		return no_value;
	}
	if (!*file.path) {
		fprintf(stderr, "hal-get-property: %s: HOST_SYS is too long\n", key);
		return no_value;
	}

	/* A sysfs attribute is at most a page; room for the line feed behind it. */
	char value[4096 + 1];
	size_t length = 0;
	if (file.fd >= 0)
		file.error = read_attribute(file.fd, value, sizeof value - 1, length);
	if (file.error) {
		char readers[80] = "";
		if (file.error == EACCES)
			describe_readers(file.path, readers, sizeof readers);
		fprintf(stderr, "hal-get-property: %s: no value: %s: %s%s\n", key, file.path,
			strerror(file.error), readers);
		return no_value;
	}
	if (length > 0 && value[length - 1] == '\n')
		length--;
	if (length == 0) {
		fprintf(stderr, "hal-get-property: %s: no value: %s is empty\n", key, file.path);
		return no_value;
	}
	if (is_placeholder(file.attribute, value, length)) {
		fprintf(stderr, "hal-get-property: %s: no value: %s holds a firmware placeholder\n",
			key, file.path);
		return no_value;
	}

	if (is_uuid(file.attribute))
		for (size_t i = 0; i < length; i++)
			if (value[i] >= 'a' && value[i] <= 'z')
				value[i] = value[i] - 'a' + 'A';
	value[length++] = '\n';
	if (!write_all(STDOUT_FILENO, value, length)) {
		fprintf(stderr, "hal-get-property: %s: cannot write: %s\n", key, strerror(errno));
		return no_value;
	}
	return found;
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
