#include "fake_hal.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fake_hal {

std::string arguments(const std::string &key)
{
	return "--udi /org/freedesktop/Hal/devices/computer --key " + key;
}

Scope::Scope() : saved_path_(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")
{
	char pattern[] = "/tmp/fake-hal.XXXXXX";
	if (!mkdtemp(pattern))
		throw std::runtime_error("mkdtemp failed");
	dir_ = pattern;
	setenv("FAKE_HAL_DIR", dir_.c_str(), 1);
	setenv("PATH", (std::string(FAKE_HAL_BIN) + ":" + saved_path_).c_str(), 1);
	write("log", "");
}

Scope::~Scope()
{
	setenv("PATH", saved_path_.c_str(), 1);
	unsetenv("FAKE_HAL_DIR");
	std::system(("rm -rf '" + dir_ + "'").c_str());
}

void Scope::write(const std::string &name, const std::string &bytes) const
{
	std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
}

void Scope::answer(const std::string &key, const std::string &bytes) const
{
	write(key, bytes);
}

void Scope::delay(const std::string &key, const char *seconds) const
{
	write(key + ".delay", seconds);
}

void Scope::exit_status(const std::string &key, int status) const
{
	write(key + ".status", std::to_string(status));
}

void Scope::linger(const std::string &key, const char *seconds) const
{
	write(key + ".after", seconds);
}

void Scope::start_reports() const
{
	write("report", "");
}

std::vector<std::string> Scope::reports() const
{
	return lines("report");
}

std::vector<std::string> Scope::lines(const std::string &name) const
{
	std::ifstream in(dir_ + "/" + name);
	std::vector<std::string> lines;
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

void Scope::hide_tool() const
{
	setenv("PATH", dir_.c_str(), 1);
}

} // namespace fake_hal
