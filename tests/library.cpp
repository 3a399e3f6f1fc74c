#include "library.h"

#include "heap_string.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace library {
namespace {

using probe = char *(*)();

probe find(const char *symbol)
{
	return reinterpret_cast<probe>(entry_point(symbol));
}

} // namespace

void *entry_point(const char *symbol)
{
	static void *handle = dlopen(OSIDENTITY_LIBRARY, RTLD_NOW | RTLD_LOCAL);
	void *function = handle ? dlsym(handle, symbol) : nullptr;
	if (!function) {
		fprintf(stderr, "%s: %s\n", OSIDENTITY_LIBRARY, dlerror());
		abort();
	}
	return function;
}

char *getOSUUID()
{
	static probe function = find("_Z9getOSUUIDv");
	return function();
}

char *getOSSerial()
{
	static probe function = find("_Z11getOSSerialv");
	return function();
}

std::optional<std::string> call(char *(*probe)())
{
	heap_string value(probe());
	if (!value)
		return std::nullopt;
	return std::string(value.get());
}

} // namespace library
