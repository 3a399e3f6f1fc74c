/*
 * osidentity: the computer's hardware UUID and serial number, as HAL reports
 * them. Link with what `pkg-config --cflags --libs osidentity` prints, or
 * with the CMake target osidentity::osidentity.
 */
#ifndef JOSUUID_H
#define JOSUUID_H

/* The functions have C++ names (the library exports _Z9getOSUUIDv and
 * _Z11getOSSerialv), so a C caller could not link to them. */
#ifndef __cplusplus
#error "josuuid.h: getOSUUID() and getOSSerial() are C++ functions; compile the caller as C++"
#endif

#define JOSUUID_EXPORT __attribute__((visibility("default")))

/*
 * Each call runs HAL's hal-get-property (through /bin/sh) once or twice, and
 * blocks the calling thread until it has finished; nothing is cached. What
 * the tool writes to its standard error reaches the process's standard
 * error. The tool is looked for in the absolute folders of PATH, in their
 * order, never in the working directory: empty and relative elements are
 * left out, and without PATH (or without an absolute element in it) the
 * system's default, /bin:/usr/bin, is searched.
 *
 * The result is a NUL-terminated string without leading and trailing white
 * space, in a block from malloc: the caller owns it and releases it with
 * free(). NULL means that no value could be obtained. The empty string is a
 * value: HAL answered, with white space only. An answer holding a NUL byte is
 * no answer: the next key is asked.
 *
 * Both functions may be called from any thread, also several at once; no
 * set-up is needed. They are not async-signal-safe: do not call them from a
 * signal handler. A thread cancelled during a call is cancelled once the
 * call has returned (at its next cancellation point), so that the call can
 * close its pipe and reap its child.
 */
JOSUUID_EXPORT char *getOSUUID(void);
JOSUUID_EXPORT char *getOSSerial(void);

#endif
