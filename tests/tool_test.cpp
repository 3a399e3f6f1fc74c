/* The stand-in hal-get-property against fake DMI trees, and the library
 * answering through it. */
#include "library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string computer = "/org/freedesktop/Hal/devices/computer";
const std::string usage = "usage: hal-get-property --udi UDI --key KEY\n";

struct Outcome {
	int status;
	std::string out;
	std::string err;
};

std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream bytes;
	bytes << in.rdbuf();
	return bytes.str();
}

/* A fake /sys whose DMI attributes the tests write. */
class Tree {
      public:
	Tree()
	{
		char pattern[] = "/tmp/host-sys.XXXXXX";
		root_ = mkdtemp(pattern);
		std::system(("mkdir -p '" + dmi() + "' && chmod -R a+rx '" + root_ + "'").c_str());
	}
	~Tree() { std::system(("rm -rf '" + root_ + "'").c_str()); }
	const std::string &root() const { return root_; }
	std::string dmi() const { return root_ + "/class/dmi/id"; }
	std::string write(const std::string &attribute, const std::string &bytes) const
	{
		std::string path = dmi() + "/" + attribute;
		std::ofstream(path, std::ios::binary) << bytes;
		chmod(path.c_str(), 0644);
		return path;
	}

      private:
	std::string root_;
};

/* Runs command (a program and its arguments) with HOST_SYS set to host_sys,
 * unless that is null. */
Outcome run(std::vector<std::string> command, const char *host_sys)
{
	char out_path[] = "/tmp/tool-out.XXXXXX", err_path[] = "/tmp/tool-err.XXXXXX";
	int out = mkstemp(out_path), err = mkstemp(err_path);
	pid_t pid = fork();
	if (pid == 0) {
		dup2(out, STDOUT_FILENO);
		dup2(err, STDERR_FILENO);
		std::vector<char *> argv;
		for (std::string &word : command)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		if (host_sys)
			setenv("HOST_SYS", host_sys, 1);
		else
			unsetenv("HOST_SYS");
		execvp(argv[0], argv.data());
		_exit(127);
	}
	int status = 0;
	waitpid(pid, &status, 0);
	close(out);
	close(err);
	Outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out_path),
		       slurp(err_path)};
	unlink(out_path);
	unlink(err_path);
	return result;
}

Outcome tool(std::vector<std::string> arguments, const char *host_sys = nullptr)
{
	arguments.insert(arguments.begin(), TOOL);
	return run(arguments, host_sys);
}

Outcome ask(const std::string &key, const Tree &tree)
{
	return tool({"--udi", computer, "--key", key}, tree.root().c_str());
}

/* Every attribute gets its own value; trailing spaces are part of it. */
const std::pair<const char *, const char *> attributes[] = {
	{"product_uuid", "4c4c4544-004a-3510-8052-b4c04f4a4d31\n"},
	{"product_serial", "  SN 0042  \n"},
	{"sys_vendor", "Korvane Systems\n"},
	{"product_name", "Mardel 9000\n"},
	{"product_version", "rev B\n\n"},
	{"bios_vendor", "Firmware Inc. \n"},
	{"bios_version", "1.2.3\n"},
	{"bios_date", "12/08/2026\n"},
	{"chassis_vendor", "Chassis Co\n"},
};

class DmiTree : public testing::Test {
      protected:
	void SetUp() override
	{
		for (const auto &[attribute, bytes] : attributes)
			tree.write(attribute, bytes);
	}
	Tree tree;
};

struct KeyCase {
	const char *key;
	const char *printed;
};

const KeyCase keys[] = {
	{"system.hardware.uuid", "4C4C4544-004A-3510-8052-B4C04F4A4D31\n"},
	{"smbios.system.uuid", "4C4C4544-004A-3510-8052-B4C04F4A4D31\n"},
	{"system.hardware.serial", "  SN 0042  \n"},
	{"smbios.system.serial", "  SN 0042  \n"},
	{"system.hardware.vendor", "Korvane Systems\n"},
	{"smbios.system.manufacturer", "Korvane Systems\n"},
	{"system.hardware.product", "Mardel 9000\n"},
	{"smbios.system.product", "Mardel 9000\n"},
	{"system.hardware.version", "rev B\n\n"},
	{"smbios.system.version", "rev B\n\n"},
	{"system.firmware.vendor", "Firmware Inc. \n"},
	{"smbios.bios.vendor", "Firmware Inc. \n"},
	{"system.firmware.version", "1.2.3\n"},
	{"smbios.bios.version", "1.2.3\n"},
	{"system.firmware.release_date", "12/08/2026\n"},
	{"smbios.bios.release_date", "12/08/2026\n"},
	{"system.chassis.manufacturer", "Chassis Co\n"},
	{"smbios.chassis.manufacturer", "Chassis Co\n"},
};

TEST_F(DmiTree, EveryKeyPrintsItsAttribute)
{
	for (const KeyCase &k : keys) {
		SCOPED_TRACE(k.key);
		Outcome r = ask(k.key, tree);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out, k.printed);
		EXPECT_EQ(r.err, "");
	}
}

TEST_F(DmiTree, OptionsInEitherOrder)
{
	Outcome r =
		tool({"--key", "system.hardware.vendor", "--udi", computer}, tree.root().c_str());
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Korvane Systems\n");
}

/* No value: nothing on standard output, one line naming the key, exit 1. */
void expect_no_value(const Outcome &r, const std::string &key)
{
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_NE(r.err.find(key), std::string::npos) << r.err;
	EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST_F(DmiTree, NoValue)
{
	const struct {
		const char *name;
		const char *attribute; // written first, or removed when contents is null
		const char *contents;
		const char *key;
		const char *reason; // on standard error
	} cases[] = {
		{"missing file", "product_serial", nullptr, "system.hardware.serial",
		 "No such file"},
		{"empty file", "product_uuid", "", "smbios.system.uuid", "is empty"},
		{"line feed only", "sys_vendor", "\n", "system.hardware.vendor", "is empty"},
		{"unknown key", nullptr, nullptr, "system.hardware.colour", "unknown key"},
		{"path as key", nullptr, nullptr, "../../../../etc/passwd", "unknown key"},
		{"attribute name as key", nullptr, nullptr, "product_uuid", "unknown key"},
		{"empty key", nullptr, nullptr, "", "unknown key"},
		// Firmware placeholders, which many machines share.
		{"zero UUID", "product_uuid", "00000000-0000-0000-0000-000000000000\n",
		 "system.hardware.uuid", "placeholder"},
		{"all-F UUID", "product_uuid", "ffffffff-ffff-ffff-ffff-ffffffffffff\n",
		 "smbios.system.uuid", "placeholder"},
		{"all-F UUID, upper case", "product_uuid", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF\n",
		 "system.hardware.uuid", "placeholder"},
		{"AMI's UUID", "product_uuid", "03000200-0400-0500-0006-000700080009\n",
		 "system.hardware.uuid", "placeholder"},
		{"O.E.M.", "product_serial", "To Be Filled By O.E.M.\n", "system.hardware.serial",
		 "placeholder"},
		{"other case, white space", "product_serial", "  default STRING \n",
		 "smbios.system.serial", "placeholder"},
		{"System Serial Number", "product_serial", "System Serial Number\n",
		 "system.hardware.serial", "placeholder"},
		{"Not Specified", "product_serial", "Not Specified\n", "system.hardware.serial",
		 "placeholder"},
		{"Not Applicable", "product_serial", "NOT APPLICABLE\n", "system.hardware.serial",
		 "placeholder"},
		{"None", "product_serial", "none\n", "system.hardware.serial", "placeholder"},
		{"N/A", "product_serial", "N/A\n", "system.hardware.serial", "placeholder"},
		{"counting digits", "product_serial", "0123456789\n", "system.hardware.serial",
		 "placeholder"},
		{"zeros", "product_serial", "0000000000\n", "system.hardware.serial",
		 "placeholder"},
		{"two X", "product_serial", "xX\n", "system.hardware.serial", "placeholder"},
		{"stars", "product_serial", "\t********\n", "smbios.system.serial", "placeholder"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		if (c.attribute && c.contents)
			tree.write(c.attribute, c.contents);
		else if (c.attribute)
			unlink((tree.dmi() + "/" + c.attribute).c_str());
		Outcome r = ask(c.key, tree);
		expect_no_value(r, c.key);
		EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
	}
}

/* Near a placeholder is still a value, and placeholders are refused for the
 * UUID and the serial number alone. */
TEST_F(DmiTree, NearPlaceholdersAreValues)
{
	const struct {
		const char *attribute;
		const char *contents;
		const char *key;
		const char *printed;
	} cases[] = {
		{"product_uuid", "00000000-0000-0000-0000-000000000001\n", "system.hardware.uuid",
		 "00000000-0000-0000-0000-000000000001\n"},
		{"product_uuid", "fFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFe\n", "smbios.system.uuid",
		 "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFE\n"},
		{"product_uuid", "03000200-0400-0500-0006-00070008000a\n", "system.hardware.uuid",
		 "03000200-0400-0500-0006-00070008000A\n"},
		{"product_serial", "To Be Filled By O.E.M. 7\n", "system.hardware.serial",
		 "To Be Filled By O.E.M. 7\n"},
		{"product_serial", "None1\n", "system.hardware.serial", "None1\n"},
		{"product_serial", "X\n", "system.hardware.serial", "X\n"},
		{"product_serial", "00000000001\n", "smbios.system.serial", "00000000001\n"},
		{"product_serial", "0 0\n", "system.hardware.serial", "0 0\n"},
		{"sys_vendor", "Default string\n", "system.hardware.vendor", "Default string\n"},
		{"product_name", "To Be Filled By O.E.M.\n", "smbios.system.product",
		 "To Be Filled By O.E.M.\n"},
		{"bios_version", "0000\n", "system.firmware.version", "0000\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.contents);
		tree.write(c.attribute, c.contents);
		Outcome r = ask(c.key, tree);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out, c.printed);
	}
}

/* The caller learns who may read the file: the group to join, or that no
 * group will do. Root asks as nobody; anyone else is the owner, whom the
 * owner's bits shut out. */
TEST_F(DmiTree, UnreadableFile)
{
	bool root = geteuid() == 0;
	if (root && access("/usr/bin/setpriv", X_OK) != 0)
		GTEST_SKIP()
			<< "running as root without setpriv: cannot drop to an unprivileged user";
	std::string path = tree.write("product_serial", "SECRET\n");
	struct {
		mode_t as_root, as_owner;
		const char *readers; // %u: the file's group, or its owner
	} cases[] = {
		{0440, 0040, " (a caller in group %u, or root, can read it)"},
		{0400, 0000, " (mode %04o, owner uid %u: no group can read it)"},
	};
	for (const auto &c : cases) {
		mode_t mode = root ? c.as_root : c.as_owner;
		chmod(path.c_str(), mode);
		Outcome r = root ? run({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
					"--clear-groups", TOOL, "--udi", computer, "--key",
					"system.hardware.serial"},
				       tree.root().c_str())
				 : ask("system.hardware.serial", tree);
		char readers[100];
		if (mode & S_IRGRP)
			snprintf(readers, sizeof readers, c.readers, (unsigned)getegid());
		else
			snprintf(readers, sizeof readers, c.readers, (unsigned)mode,
				 (unsigned)geteuid());
		expect_no_value(r, "system.hardware.serial");
		EXPECT_NE(r.err.find(std::string("Permission denied") + readers + "\n"),
			  std::string::npos)
			<< r.err;
	}
}

TEST_F(DmiTree, OtherDevice)
{
	Outcome r = tool(
		{"--udi", "/org/freedesktop/Hal/devices/storage", "--key", "system.hardware.uuid"},
		tree.root().c_str());
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_NE(r.err.find("/org/freedesktop/Hal/devices/storage"), std::string::npos);
	EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);
}

TEST(CommandLine, BadOnesExitTwoWithUsage)
{
	const std::vector<std::vector<std::string>> bad = {
		{},
		{"--udi"},
		{"--key", "system.hardware.uuid"},
		{"--udi", computer},
		{"--udi", computer, "--key"},
		{"--bogus", "x", "--udi", computer, "--key", "system.hardware.uuid"},
		{"--udi", computer, "--key", "system.hardware.uuid", "extra"},
		{"--udi", computer, "--key", "system.hardware.uuid", "--key", "smbios.system.uuid"},
		{"--help", "--udi", computer},
		{"-h"},
	};
	for (const auto &arguments : bad) {
		std::string line;
		for (const auto &a : arguments)
			line += a + " ";
		SCOPED_TRACE(line);
		Outcome r = tool(arguments);
		EXPECT_EQ(r.status, 2);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, usage);
	}
}

TEST(CommandLine, HelpOnStandardOutput)
{
	Outcome r = tool({"--help"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, usage);
	EXPECT_EQ(r.err, "");
}

bool runs_under_emulation()
{
	std::ifstream status("/proc/sys/fs/binfmt_misc/qemu-i386");
	std::string first;
	return sizeof(void *) == 4 && std::getline(status, first) && first == "enabled";
}

/* A set-user-ID or set-group-ID copy must not let its caller choose the
 * files it reads. */
TEST_F(DmiTree, PrivilegedCopyIgnoresHostSys)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to make a set-user-ID copy";
	if (runs_under_emulation())
		GTEST_SKIP() << "i386 programs run under qemu here; the kernel does not apply "
				"set-user-ID to them";
	const struct {
		mode_t mode;
		gid_t group; // 4 is adm, a group that nobody lacks
	} copies[] = {{04755, 0}, {02755, 4}};
	for (const auto &c : copies) {
		SCOPED_TRACE(c.mode);
		std::string copy = tree.root() + "/hal-get-property";
		ASSERT_EQ(std::system(("cp '" TOOL "' '" + copy + "'").c_str()), 0);
		ASSERT_EQ(chown(copy.c_str(), 0, c.group), 0);
		ASSERT_EQ(chmod(copy.c_str(), c.mode), 0);

		Outcome r = run({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
				 "--clear-groups", copy, "--udi", computer, "--key",
				 "system.hardware.vendor"},
				tree.root().c_str());
		EXPECT_NE(r.out, "Korvane Systems\n");
		std::string real = slurp("/sys/class/dmi/id/sys_vendor");
		if (real.empty() || real == "\n") {
			expect_no_value(r, "system.hardware.vendor");
			EXPECT_NE(r.err.find("/sys/class/dmi/id/sys_vendor"), std::string::npos)
				<< r.err;
		} else {
			EXPECT_EQ(r.out, real);
		}
	}
}

/* The library, with the tool first on PATH, answers from the tree. */
TEST_F(DmiTree, LibraryEndToEnd)
{
	std::string saved_path = getenv("PATH");
	std::string tool_dir = TOOL;
	tool_dir.erase(tool_dir.rfind('/'));
	setenv("PATH", (tool_dir + ":" + saved_path).c_str(), 1);
	setenv("HOST_SYS", tree.root().c_str(), 1);

	char *uuid = library::getOSUUID();
	char *serial = library::getOSSerial();
	EXPECT_STREQ(uuid, "4C4C4544-004A-3510-8052-B4C04F4A4D31");
	EXPECT_STREQ(serial, "SN 0042");
	free(uuid);
	free(serial);

	unlink((tree.dmi() + "/product_uuid").c_str());
	EXPECT_EQ(library::getOSUUID(), nullptr);
	tree.write("product_serial", "To Be Filled By O.E.M.\n");
	EXPECT_EQ(library::getOSSerial(), nullptr);

	setenv("PATH", saved_path.c_str(), 1);
	unsetenv("HOST_SYS");
}

} // namespace
