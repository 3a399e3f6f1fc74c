/* The built library, opened with dlopen as a native caller or a JVM opens it. */
#ifndef LIBRARY_H
#define LIBRARY_H

#include <optional>
#include <string>

namespace library {

/* The exported functions, found by their mangled names. */
char *getOSUUID();
char *getOSSerial();

/* A JNI entry point of the library, found by its name. */
void *entry_point(const char *symbol);

/* What one of them returned, as a string (the block freed), or nullopt. */
std::optional<std::string> call(char *(*probe)());

} // namespace library

#endif
