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
		return put("class/dmi/id/" + attribute, bytes);
	}
	/* A file anywhere in the tree: "proc/" holds what HOST_PROC shows. */
	std::string put(const std::string &relative, const std::string &bytes) const
	{
		std::string path = root_ + "/" + relative;
		std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
		std::ofstream(path, std::ios::binary) << bytes;
		chmod(path.c_str(), 0644);
		return path;
	}

      private:
	std::string root_;
};

/* Runs command (a program and its arguments) with HOST_SYS set to host_sys
 * and HOST_PROC to its proc folder, unless host_sys is null: the machine's own
 * device tree and /proc/sysinfo never reach a test. Its standard output goes
 * to output where that is given. */
Outcome run(std::vector<std::string> command, const char *host_sys, const char *output = nullptr)
{
	char out_path[] = "/tmp/tool-out.XXXXXX", err_path[] = "/tmp/tool-err.XXXXXX";
	int out = mkstemp(out_path), err = mkstemp(err_path);
	pid_t pid = fork();
	if (pid == 0) {
		if (output)
			out = open(output, O_WRONLY);
		dup2(out, STDOUT_FILENO);
		dup2(err, STDERR_FILENO);
		std::vector<char *> argv;
		for (std::string &word : command)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		if (host_sys) {
			setenv("HOST_SYS", host_sys, 1);
			setenv("HOST_PROC", (std::string(host_sys) + "/proc").c_str(), 1);
		} else {
			unsetenv("HOST_SYS");
			unsetenv("HOST_PROC");
		}
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

/* The command, run by user nobody without groups. */
std::vector<std::string> as_nobody(std::vector<std::string> command)
{
	command.insert(command.begin(),
		       {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
	return command;
}

/* size bytes of text that repeats no character, ending in a line feed. */
std::string page(size_t size)
{
	std::string text;
	while (text.size() < size - 1)
		text += "PAGE-" + std::to_string(text.size()) + " ";
	text.resize(size - 1);
	return text + "\n";
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
	const std::string page_and_a_byte = page(4096) + "X"; // more than sysfs shows
	const struct {
		const char *name;
		const char *attribute; // written first, or removed when contents is null
		const char *contents;
		const char *key;
		const char *reason; // on standard error
	} cases[] = {
		{"missing file", "product_serial", nullptr, "smbios.system.serial", "No such file"},
		{"missing file, other sources", "product_serial", nullptr, "system.hardware.serial",
		 ": no source had a value\n"},
		{"empty file, other sources", "product_uuid", "\n", "system.hardware.uuid",
		 "/product_uuid is empty)\n"},
		{"empty file", "product_uuid", "", "smbios.system.uuid", "is empty"},
		{"line feed only", "sys_vendor", "\n", "system.hardware.vendor", "is empty"},
		{"a byte over a page", "product_serial", page_and_a_byte.c_str(),
		 "smbios.system.serial", "File too large"},
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
		{"bytes 00 to 0F, SMBIOS 2.6 order", "product_uuid",
		 "03020100-0504-0706-0809-0a0b0c0d0e0f\n", "system.hardware.uuid", "placeholder"},
		{"osquery's 10000000-...", "product_uuid", "10000000-0000-8000-0040-000000000000\n",
		 "smbios.system.uuid", "placeholder"},
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
	const std::string one_page = page(4096); // the most sysfs shows
	const struct {
		const char *attribute;
		std::string contents;
		const char *key;
		std::string printed;
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
		{"product_serial", "1234567890A\n", "system.hardware.serial", "1234567890A\n"},
		{"product_serial", "Unknown-7F3K2\n", "system.hardware.serial", "Unknown-7F3K2\n"},
		// Power's system-id alone has "unavailable" for a placeholder.
		{"product_serial", "unavailable\n", "system.hardware.serial", "unavailable\n"},
		{"product_serial", one_page, "system.hardware.serial", one_page},
		// Placeholders are whole values, not prefixes.
		{"product_serial", "Not\n", "system.hardware.serial", "Not\n"},
		{"product_serial", "To Be\n", "smbios.system.serial", "To Be\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.contents.substr(0, 40));
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
	ASSERT_TRUE(!root || access("/usr/bin/setpriv", X_OK) == 0)
		<< "root asks as nobody: setpriv";
	std::string path = tree.write("product_serial", "SECRET\n");
	struct {
		mode_t as_root, as_owner;
		const char *readers; // %u: the file's group, or its owner
		const char *key;
		const char *after; // a key with sources beyond DMI says that none had a value
	} cases[] = {
		{0440, 0040, " (a caller in group %u, or root, can read it)",
		 "smbios.system.serial", "\n"},
		{0400, 0000, " (mode %04o, owner uid %u: no group can read it)",
		 "smbios.system.serial", "\n"},
		{0440, 0040, " (a caller in group %u, or root, can read it)",
		 "system.hardware.serial", "; no other source had one\n"},
	};
	for (const auto &c : cases) {
		mode_t mode = root ? c.as_root : c.as_owner;
		chmod(path.c_str(), mode);
		Outcome r = root ? run(as_nobody({TOOL, "--udi", computer, "--key", c.key}),
				       tree.root().c_str())
				 : ask(c.key, tree);
		char readers[100];
		if (mode & S_IRGRP)
			snprintf(readers, sizeof readers, c.readers, (unsigned)getegid());
		else
			snprintf(readers, sizeof readers, c.readers, (unsigned)mode,
				 (unsigned)geteuid());
		expect_no_value(r, c.key);
		EXPECT_NE(r.err.find(std::string("Permission denied") + readers + c.after),
			  std::string::npos)
			<< r.err;
	}
}

/* Machines without DMI (or with placeholders in it), laid out as their
 * kernels show them: device-tree strings end in NUL (drivers/of/kobj.c),
 * /proc/sysinfo pads its values with spaces (arch/s390/kernel/sysinfo.c),
 * sysfs attributes end in a line feed (drivers/xen/sys-hypervisor.c,
 * drivers/base/soc.c). Each answer as the tool prints it, or null for none. */
struct Machine {
	const char *name;
	std::vector<std::pair<std::string, std::string>>
		files;			     // under HOST_SYS; proc/ is HOST_PROC
	const char *uuid;		     // system.hardware.uuid
	const char *serial;		     // system.hardware.serial
	const char *smbios_serial = nullptr; // DMI's alone
};

const std::string device_tree = "firmware/devicetree/base/";
using namespace std::string_literals;

/* A z/VM guest's /proc/sysinfo, after util-linux#685 (a KVM guest inside a
 * z/VM guest), with the levels given. */
std::string sysinfo(const std::string &levels)
{
	return "Manufacturer:         IBM             \n"
	       "Type:                 2964\n"
	       "Sequence Code:        0000000000012345\n"
	       "Plant:                02  \n"
	       "\n"
	       "LPAR Number:          19\n"
	       "LPAR Name:            LP19    \n" +
	       levels;
}
const std::string lpar_uuid = "LPAR Extended Name:   LP19\n"
			      "LPAR UUID:            6b2d1e4c-8f0a-4c3b-9e7d-1a2b3c4d5e6f\n";
/* text, then a line of spaces that makes it size bytes long. */
std::string padded(const std::string &text, size_t size)
{
	return text + std::string(size - text.size() - 1, ' ') + "\n";
}
const std::string zvm_guest = "\nVM00 Name:            LINUX01 \n"
			      "VM00 Control Program: z/VM    6.3.0   \n";

const Machine machines[] = {
	// /proc/device-tree/serial-number of a Raspberry Pi 4 (its forums' dumps)
	{"Raspberry Pi",
	 {{device_tree + "serial-number", "10000000a1b2c3d4\0"s},
	  {device_tree + "model", "Raspberry Pi 4 Model B Rev 1.4\0"s}},
	 nullptr,
	 "10000000a1b2c3d4"},
	// a PowerVM partition: lshw's reports show system-id as IBM, plant, serial
	{"PowerVM partition",
	 {{device_tree + "ibm,partition-uuid", "5e8c07b1-3a3d-4a59-9c14-2b5e8e7f0d21\0"s},
	  {device_tree + "system-id", "IBM,02783C0BW\0"s}},
	 "5E8C07B1-3A3D-4A59-9C14-2B5E8E7F0D21",
	 "IBM,02783C0BW"},
	// serial-number goes before system-id; an empty property is no value
	{"Power machine with both",
	 {{device_tree + "serial-number", "SN-FIRST\0"s},
	  {device_tree + "system-id", "IBM,02SECOND\0"s}},
	 nullptr,
	 "SN-FIRST"},
	{"empty serial-number",
	 {{device_tree + "serial-number", ""s}, {device_tree + "system-id", "IBM,02BEHIND\0"s}},
	 nullptr,
	 "IBM,02BEHIND"},
	// QEMU's pseries machine: vm,uuid with -uuid; system-id as skiboot leaves it
	{"Power KVM guest",
	 {{device_tree + "vm,uuid", "c2a9d3a0-5f4e-4b1c-8d9e-0123456789ab\0"s},
	  {device_tree + "system-id", "unavailable\0"s}},
	 "C2A9D3A0-5F4E-4B1C-8D9E-0123456789AB",
	 nullptr},
	{"Power KVM guest without -uuid",
	 {{device_tree + "model", "IBM pSeries (emulated by qemu)\0"s}},
	 nullptr,
	 nullptr},
	{"z/VM guest: its own UUID, not the partition's",
	 {{"proc/sysinfo",
	   sysinfo(lpar_uuid + zvm_guest +
		   "VM00 UUID:            0c1d2e3f-4a5b-4c6d-8e7f-8091a2b3c4d5\n")}},
	 "0C1D2E3F-4A5B-4C6D-8E7F-8091A2B3C4D5",
	 "0000000000012345"},
	{"z/VM guest without a UUID",
	 {{"proc/sysinfo", sysinfo(lpar_uuid + zvm_guest)}},
	 nullptr,
	 "0000000000012345"},
	{"DPM partition",
	 {{"proc/sysinfo", sysinfo(lpar_uuid)}},
	 "6B2D1E4C-8F0A-4C3B-9E7D-1A2B3C4D5E6F",
	 "0000000000012345"},
	{"classic partition", {{"proc/sysinfo", sysinfo("")}}, nullptr, "0000000000012345"},
	{"sysinfo of 64 KiB exactly",
	 {{"proc/sysinfo", padded(sysinfo(lpar_uuid), 64 * 1024)}},
	 "6B2D1E4C-8F0A-4C3B-9E7D-1A2B3C4D5E6F",
	 "0000000000012345"},
	{"sysinfo a byte over 64 KiB",
	 {{"proc/sysinfo", padded(sysinfo(lpar_uuid), 64 * 1024 + 1)}},
	 nullptr,
	 nullptr},
	{"Xen guest",
	 {{"hypervisor/uuid", "4e1c6b0a-93f2-4d6e-a1b7-2c3d4e5f6a7b\n"}},
	 "4E1C6B0A-93F2-4D6E-A1B7-2C3D4E5F6A7B",
	 nullptr},
	{"Xen's dom0",
	 {{"hypervisor/uuid", "00000000-0000-0000-0000-000000000000\n"}},
	 nullptr,
	 nullptr},
	// soc0 of an i.MX8M board: the SoC's unique id, in hex
	{"i.MX board",
	 {{"devices/soc0/serial_number", "0E1A2B3C4D5E6F70\n"},
	  {"devices/soc0/soc_id", "i.MX8MM\n"}},
	 nullptr,
	 "0E1A2B3C4D5E6F70"},
	{"Rockchip PX30 board",
	 {{device_tree + "serial-number", "c3d9b8674f4b94f6\0"s}},
	 nullptr,
	 nullptr},
	{"server with DMI and a device tree: DMI answers",
	 {{"class/dmi/id/product_uuid", "a1b2c3d4-0000-4000-8000-00000000beef\n"},
	  {"class/dmi/id/product_serial", "SRV-42\n"},
	  {device_tree + "serial-number", "DT-SERIAL\0"s},
	  {device_tree + "vm,uuid", "ffffffff-0000-4000-8000-000000000001\0"s}},
	 "A1B2C3D4-0000-4000-8000-00000000BEEF",
	 "SRV-42",
	 "SRV-42"},
	{"DMI placeholder, device-tree serial behind it",
	 {{"class/dmi/id/product_serial", "To Be Filled By O.E.M.\n"},
	  {device_tree + "serial-number", "BOARD-7\0"s}},
	 nullptr,
	 "BOARD-7"},
};

TEST(Firmware, EachMachineAnswersFromItsSources)
{
	for (const Machine &m : machines) {
		SCOPED_TRACE(m.name);
		Tree tree;
		for (const auto &[path, bytes] : m.files)
			tree.put(path, bytes);
		const std::pair<const char *, const char *> answers[] = {
			{"system.hardware.uuid", m.uuid},
			{"system.hardware.serial", m.serial},
			{"smbios.system.serial", m.smbios_serial},
			{"smbios.system.uuid", m.smbios_serial ? m.uuid : nullptr},
		};
		for (const auto &[key, answer] : answers) {
			SCOPED_TRACE(key);
			Outcome r = ask(key, tree);
			if (answer) {
				EXPECT_EQ(r.status, 0);
				EXPECT_EQ(r.out, answer + "\n"s);
			} else {
				expect_no_value(r, key);
			}
		}
	}
}

/* A value that cannot be written is none: exit 1, and the reason. */
TEST_F(DmiTree, UnwritableOutput)
{
	Outcome r = run({TOOL, "--udi", computer, "--key", "system.hardware.vendor"},
			tree.root().c_str(), "/dev/full");
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("system.hardware.vendor: cannot write: No space left"),
		  std::string::npos)
		<< r.err;
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

/* Why this run cannot make set-user-ID and set-group-ID copies, or null. */
const char *cannot_make_privileged_copies()
{
	return geteuid() == 0 ? nullptr : "needs root to make set-user-ID and set-group-ID copies";
}

/* The command run by nobody, from a copy with mode and group. The kernel
 * applies a copy's set-ID bits, but not where qemu-user runs this build's
 * programs (the system's entries lack the C flag, and should): there the
 * emulator starts with the ids the kernel would have given the copy, so the
 * program sees them and AT_SECURE as it would. */
bool emulated()
{
	std::ifstream entry(QEMU_ENTRY);
	std::string state;
	return std::getline(entry, state) && state == "enabled";
}

std::vector<std::string> as_nobody_from(std::vector<std::string> command, mode_t mode, gid_t group)
{
	if (!emulated() || !(mode & (S_ISUID | S_ISGID)))
		return as_nobody(command);
	command.insert(command.begin(),
		       {"/usr/bin/setpriv", mode & S_ISUID ? "--euid=0" : "--euid=nobody",
			"--ruid=nobody",
			mode & S_ISGID ? "--egid=" + std::to_string(group) : "--egid=nogroup",
			"--rgid=nogroup", "--clear-groups"});
	return command;
}

/* A copy of the tool in the tree, owned by root and group, with mode. */
std::string privileged_copy(const Tree &tree, mode_t mode, gid_t group)
{
	std::string copy = tree.root() + "/hal-get-property";
	EXPECT_EQ(std::system(("cp '" TOOL "' '" + copy + "'").c_str()), 0);
	EXPECT_EQ(chown(copy.c_str(), 0, group), 0);
	EXPECT_EQ(chmod(copy.c_str(), mode), 0);
	return copy;
}

/* The start of a script, run by unshare --mount, that shows the tree "$0"
 * in place of /sys: its class/ and firmware/, and no devices/ (where soc0's
 * serial number would be). */
const std::string tree_as_sys =
	"for d in class firmware devices; do mount -t tmpfs none /sys/$d && "
	"{ [ ! -d \"$0/$d\" ] || cp -a \"$0/$d/.\" /sys/$d/; } || exit 1; done && ";

/* command, run by a privileged copy in a mount namespace of its own whose
 * /sys is the tree at sys, after the script's start in mounts. */
Outcome run_on_tree(const std::string &sys, const std::string &mounts,
		    const std::vector<std::string> &command)
{
	std::vector<std::string> words = {"/usr/bin/unshare",
					  "--mount",
					  "sh",
					  "-c",
					  tree_as_sys + mounts + "exec \"$@\"",
					  sys};
	words.insert(words.end(), command.begin(), command.end());
	return run(words, nullptr);
}

/* A set-user-ID or set-group-ID copy must not let its caller choose the
 * files it reads: where /sys has a vendor of its own and no serial number
 * anywhere, HOST_SYS's vendor, or the serial number of HOST_PROC's sysinfo,
 * would show. */
TEST_F(DmiTree, PrivilegedCopyIgnoresHostSys)
{
	if (const char *why = cannot_make_privileged_copies())
		GTEST_SKIP() << why;
	Tree sys;
	sys.write("sys_vendor", "Real Vendor\n");
	tree.put("proc/sysinfo", "Sequence Code:        FROM-HOST-PROC\n");
	const struct {
		mode_t mode;
		gid_t group; // 4 is adm, a group that nobody lacks
	} copies[] = {{04755, 0}, {02755, 4}};
	for (const auto &c : copies) {
		SCOPED_TRACE(c.mode);
		std::string copy = privileged_copy(tree, c.mode, c.group);
		for (const char *key : {"system.hardware.vendor", "system.hardware.serial"}) {
			std::vector<std::string> command = {"/usr/bin/env",
							    "HOST_SYS=" + tree.root(),
							    "HOST_PROC=" + tree.root() + "/proc"};
			for (const std::string &word : as_nobody_from(
				     {copy, "--udi", computer, "--key", key}, c.mode, c.group))
				command.push_back(word);
			Outcome r = run_on_tree(sys.root(), "", command);
			if (key == "system.hardware.vendor"s)
				EXPECT_EQ(r.out, "Real Vendor\n");
			else
				expect_no_value(r, key);
		}
	}
}

/* A set-group-ID copy run by nobody, in a mount namespace whose /sys holds
 * the tree: DMI's attributes readable by the copy's group alone, and a
 * device-tree serial number too. The copy opens the attribute with its group
 * and reads everything else without it. Where the kernel does not apply the
 * group, its one line says so, why, and which group to give the caller. */
TEST_F(DmiTree, SetGroupCopyHoldsItsGroupForTheAttributeAlone)
{
	if (const char *why = cannot_make_privileged_copies())
		GTEST_SKIP() << why;
	std::string copy = privileged_copy(tree, 02755, 4); // adm, a group nobody lacks
	tree.write("product_serial", "To Be Filled By O.E.M.\n");
	for (const std::string &group_only :
	     {tree.write("product_uuid", "4c4c4544-004a-3510-8052-b4c04f4a4d31\n"),
	      tree.put("firmware/devicetree/base/serial-number", "GROUP-ONLY\0"s)}) {
		ASSERT_EQ(chown(group_only.c_str(), 0, 4), 0);
		ASSERT_EQ(chmod(group_only.c_str(), 0440), 0);
	}
	/* A line with a NUL byte before the copy's group. */
	std::string groups = tree.put("group", "root:x:0:\nodd\0name:x:7:\nadm:x:4:\n"
					       "nogroup:x:65534:\n"s);
	/* The device tree's serial number becomes a pipe whose value, written
	 * once the copy opens it (after giving its group up), is the copy's
	 * real, effective, saved and file-system group ids at that moment. */
	const std::string group_ids_as_serial = R"(f=/sys/firmware/devicetree/base/serial-number &&
		rm "$f" && mkfifo -m 0444 "$f" && { timeout 5 sh -c 'exec 3>"$0" &&
		set -- $(sed -n "s/^Gid://p" /proc/$1/status) && printf "ids %s %s %s %s\0" "$@" >&3' "$f" $$ & } && )";
	const std::string not_applied =
		"Permission denied (a caller in group 4, or root, can read it); the tool's group "
		"adm (gid 4) was not applied: ";
	const std::string hostile_tunables =
		"GLIBC_TUNABLES=glibc.malloc.mxfast=glibc.malloc.mxfast=" + std::string(2000, 'A');
	const struct {
		const char *name;
		bool applied;	    // whether the kernel applies the copy's group
		const char *mounts; // more, before the copy runs
		std::vector<std::string> wrapper;
		const char *key;
		const char *printed; // or null: no value, and reason on standard error
		std::string reason;
		std::vector<std::string> inner = {}; // between the caller's ids and the copy
	} cases[] = {
		{"DMI with the group",
		 true,
		 "",
		 {},
		 "system.hardware.uuid",
		 "4C4C4544-004A-3510-8052-B4C04F4A4D31\n",
		 ""},
		{"device tree without it",
		 true,
		 "",
		 {},
		 "system.hardware.serial",
		 nullptr,
		 "no source had a value"},
		/* glibc's start-up parses it with the group held (CVE-2023-4911). */
		{"hostile GLIBC_TUNABLES",
		 true,
		 "",
		 {"/usr/bin/env", "-i", hostile_tunables},
		 "system.hardware.uuid",
		 "4C4C4544-004A-3510-8052-B4C04F4A4D31\n",
		 ""},
		{"no_new_privs",
		 false,
		 "",
		 {"/usr/bin/setpriv", "--no-new-privs"},
		 "system.hardware.uuid",
		 nullptr,
		 not_applied + "no_new_privs is set; give the caller that group "
			       "(SupplementaryGroups=, --group-add, a Pod's "
			       "supplementalGroups); no other source had one\n"},
		{"nosuid mount",
		 false,
		 "mount --bind \"$0\" \"$0\" && mount -o remount,bind,nosuid \"$0\" && ",
		 {},
		 "system.hardware.uuid",
		 nullptr,
		 not_applied + "its file is on a nosuid mount"},
		{"NUL in /etc/group",
		 false,
		 "mount --bind \"$0\"/group /etc/group && ",
		 {"/usr/bin/setpriv", "--no-new-privs"},
		 "smbios.system.uuid",
		 nullptr,
		 not_applied + "no_new_privs is set"},
		/* setegid alone would keep the group as the saved one. */
		{"all four group ids the caller's after the drop",
		 true,
		 group_ids_as_serial.c_str(),
		 {},
		 "system.hardware.serial",
		 "ids 65534 65534 65534 65534\n",
		 ""},
		/* systemd's PrivateUsers=, a rootless container: neither the
		 * file's group nor the copy's has a number there. */
		{"user namespace without the group",
		 false,
		 "",
		 {},
		 "system.hardware.uuid",
		 nullptr,
		 "Permission denied (its group is not mapped in this user namespace); the tool's "
		 "group is not mapped in this user namespace either, so it was not applied: give "
		 "the caller the file's group outside the namespace, or run it without "
		 "PrivateUsers=; no other source had one\n",
		 {"/usr/bin/unshare", "--user", "--map-root-user"}},
		{"HOST_SYS ignored by a set-group-ID copy",
		 true,
		 "chmod 0400 /sys/class/dmi/id/product_uuid && ",
		 {"/usr/bin/env", "HOST_SYS=/elsewhere"},
		 "smbios.system.uuid",
		 nullptr,
		 "no group can read it); HOST_SYS was ignored: the tool runs set-group-ID"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		/* The kernel makes no user namespace for a threaded process, and
		 * qemu-user runs a thread of its own. */
		if (!c.inner.empty() && emulated())
			continue;
		std::vector<std::string> command = c.wrapper, tool = c.inner;
		tool.insert(tool.end(), {copy, "--udi", computer, "--key", c.key});
		for (const std::string &word : as_nobody_from(tool, c.applied ? 02755 : 0, 4))
			command.push_back(word);
		Outcome r = run_on_tree(tree.root(), c.mounts, command);
		if (c.printed) {
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.out, c.printed);
			/* Nothing of the tool's; glibc 2.41 and later warn of the
			 * hostile tunables. */
			EXPECT_EQ(r.err.find("hal-get-property"), std::string::npos) << r.err;
		} else {
			expect_no_value(r, c.key);
			EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
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
	setenv("HOST_PROC", (tree.root() + "/proc").c_str(), 1);

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

	/* A board: a device tree behind the placeholder. */
	tree.put("firmware/devicetree/base/serial-number", std::string("BOARD-SERIAL\0", 13));
	EXPECT_EQ(library::call(library::getOSSerial), "BOARD-SERIAL");
	EXPECT_EQ(library::getOSUUID(), nullptr);

	setenv("PATH", saved_path.c_str(), 1);
	unsetenv("HOST_SYS");
	unsetenv("HOST_PROC");
}

} // namespace
