/* The built library, opened with dlopen as a native caller or a JVM opens it. */
#ifndef LIBRARY_H
#define LIBRARY_H

namespace library {

/* The exported functions, found by their mangled names. */
char *getOSUUID();
char *getOSSerial();

} // namespace library

#endif
