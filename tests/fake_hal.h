/* A scratch directory that the fake hal-get-property answers from. */
#ifndef FAKE_HAL_H
#define FAKE_HAL_H

#include <string>
#include <vector>

namespace fake_hal {

const char uuid_key[] = "system.hardware.uuid";
const char smbios_uuid_key[] = "smbios.system.uuid";
const char serial_key[] = "system.hardware.serial";
const char smbios_serial_key[] = "smbios.system.serial";

/* The arguments that the probe starts the tool with for a key. */
std::string arguments(const std::string &key);

/* Creates the directory and puts the fake tool first on PATH; the destructor
 * removes the directory and restores the environment. */
class Scope {
      public:
	Scope();
	~Scope();
	Scope(const Scope &) = delete;
	Scope &operator=(const Scope &) = delete;

	void answer(const std::string &key, const std::string &bytes) const;
	void delay(const std::string &key, const char *seconds) const;
	/* The tool runs on for that long after closing its standard output. */
	void linger(const std::string &key, const char *seconds) const;
	void exit_status(const std::string &key, int status) const;
	/* The tool's command lines so far, one per start. */
	std::vector<std::string> log() const { return lines("log"); }
	/* From now on, the blocked signals and the descriptors each start of
	 * the tool was given: "SigBlk:\t..." and "fds: 0 1 2", one line each. */
	void start_reports() const;
	std::vector<std::string> reports() const;
	/* Leaves the fake tool off PATH, as on a machine without HAL. */
	void hide_tool() const;

	const std::string &dir() const { return dir_; }

      private:
	void write(const std::string &name, const std::string &bytes) const;
	std::vector<std::string> lines(const std::string &name) const;
	std::string dir_;
	std::string saved_path_;
};

} // namespace fake_hal

#endif
