/* hal-get-property's firmware tables: the keys it answers, the sources
 * each key is read from, and the values firmware leaves as placeholders.
 * A new source or placeholder is a row here. Read by hal-get-property.cpp
 * alone. */
#pragma once

#include <cstddef>

namespace {

/* A source other than DMI, and how its file holds the value. */
enum source_kind {
	end_of_sources,
	sysfs_file,  // a file under HOST_SYS, one line
	device_tree, // a property under HOST_SYS/firmware/devicetree/base, up to its NUL
	sysinfo,     // the line "NAME:   value" of HOST_PROC/sysinfo
};

struct source {
	source_kind kind;
	const char *name;
	const char *unless = nullptr; // sysinfo: a line whose presence rules this one out
};

/* Machines without DMI. The formats are the kernel's: drivers/of/kobj.c
 * (device-tree strings end in NUL), arch/s390/kernel/sysinfo.c,
 * drivers/xen/sys-hypervisor.c, drivers/base/soc.c. */
const source firmware_uuids[] = {
	{device_tree, "ibm,partition-uuid"}, // PowerVM partition
	{device_tree, "vm,uuid"},	     // Power KVM guest
	{sysinfo, "VM00 UUID"},		     // IBM Z: the innermost z/VM or KVM guest
	/* A DPM partition; its guests share it, so not where a guest level is listed. */
	{sysinfo, "LPAR UUID", "VM00 Name"},
	{sysfs_file, "hypervisor/uuid"}, // Xen guest
	{end_of_sources, nullptr},
};

const source firmware_serials[] = {
	{device_tree, "serial-number"},		    // boards, some Power machines
	{device_tree, "system-id"},		    // Power: "IBM," plant and serial
	{sysinfo, "Sequence Code"},		    // IBM Z
	{sysfs_file, "devices/soc0/serial_number"}, // the SoC's unique id (i.MX)
	{end_of_sources, nullptr},
};

const source dmi_alone[] = {{end_of_sources, nullptr}};

/* What the value is: UUIDs and serial numbers have placeholders. */
enum value_kind { plain, uuid, serial };

/* The only way from a key to a file: keys name no paths. DMI's attribute is
 * asked first; the other sources after it, in order. */
struct property {
	const char *key;
	const char *attribute;
	value_kind kind;
	const source *others;
};

const property properties[] = {
	{"system.hardware.uuid", "product_uuid", uuid, firmware_uuids},
	{"smbios.system.uuid", "product_uuid", uuid, dmi_alone},
	{"system.hardware.serial", "product_serial", serial, firmware_serials},
	{"smbios.system.serial", "product_serial", serial, dmi_alone},
	{"system.hardware.vendor", "sys_vendor", plain, dmi_alone},
	{"smbios.system.manufacturer", "sys_vendor", plain, dmi_alone},
	{"system.hardware.product", "product_name", plain, dmi_alone},
	{"smbios.system.product", "product_name", plain, dmi_alone},
	{"system.hardware.version", "product_version", plain, dmi_alone},
	{"smbios.system.version", "product_version", plain, dmi_alone},
	{"system.firmware.vendor", "bios_vendor", plain, dmi_alone},
	{"smbios.bios.vendor", "bios_vendor", plain, dmi_alone},
	{"system.firmware.version", "bios_version", plain, dmi_alone},
	{"smbios.bios.version", "bios_version", plain, dmi_alone},
	{"system.firmware.release_date", "bios_date", plain, dmi_alone},
	{"smbios.bios.release_date", "bios_date", plain, dmi_alone},
	{"system.chassis.manufacturer", "chassis_vendor", plain, dmi_alone},
	{"smbios.chassis.manufacturer", "chassis_vendor", plain, dmi_alone},
};

/* Values that firmware leaves where its maker set none, shared by thousands
 * of machines: they identify no machine, so the tool has no value for them.
 * Compared without regard to case, with surrounding white space removed. A
 * null value stands for one character, repeated ("0000", "XXXX", "****").
 * An entry with a source's name holds for that source alone. */
struct placeholder {
	value_kind kind;
	const char *value;
	const char *source = nullptr;
};

const placeholder placeholders[] = {
	{uuid, "00000000-0000-0000-0000-000000000000"}, // not present; Xen's dom0, QEMU
	{uuid, "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"}, // not set
	{uuid, "03000200-0400-0500-0006-000700080009"}, // AMI's default
	// AMI's default as the kernel prints it for SMBIOS before 2.6 (FreeBSD's
	// rc.d/hostid, FOG's list)
	{uuid, "00020003-0004-0005-0006-000700080009"},
	{uuid, "12345678-1234-5678-90AB-CDDEEFAABBCC"}, // Insyde's default (FOG)
	{uuid, "4C4C4544-0000-2010-8020-80C04F202020"}, // Dell, blank service tag (FreeBSD)
	// FreeBSD's rc.d/hostid and FOG's list
	{uuid, "07090201-0103-0301-0807-060504030201"},
	{uuid, "11111111-2222-3333-4444-555555555555"},
	{uuid, "58585858-5858-5858-5858-585858585858"},
	{uuid, "FEFEFEFE-FEFE-FEFE-FEFE-FEFEFEFEFEFE"},
	{uuid, "FFFFFF00-FFFF-FFFF-FFFF-FFFFFFFFFFFF"},
	// osquery's list (osquery/core/system.cpp): the bytes 00 to 0F, with the
	// first three fields swapped as SMBIOS 2.6 and later store them
	{uuid, "03020100-0504-0706-0809-0A0B0C0D0E0F"},
	{uuid, "10000000-0000-8000-0040-000000000000"}, // osquery's list (osquery/core/system.cpp)
	{serial, "To Be Filled By O.E.M."},
	{serial, "Default string"},
	{serial, "System Serial Number"},
	{serial, "Not Specified"},
	{serial, "Not Applicable"},
	{serial, "None"},
	{serial, "N/A"},
	{serial, "0123456789"},
	{serial, "123456789"},	       // coreboot on System76 (FOG)
	{serial, "Type1 - 123456789"}, // Insyde
	// FOG's list, OpenShift's assisted installer
	{serial, "Chassis Serial Number"},
	{serial, "Base Board Serial Number"},
	{serial, "To Be Set By OEM"},
	{serial, "Enter Serial"},
	{serial, "Not Available"},
	{serial, "Unknown"},
	{serial, "Unspecified System Serial Number"},
	{serial, "c3d9b8674f4b94f6"}, // every Rockchip PX30 board (JeffyCN/meta-rockchip#72)
	{serial, "unavailable", "system-id"}, // skiboot, where the firmware has none
	{serial, nullptr},
};

} // namespace
