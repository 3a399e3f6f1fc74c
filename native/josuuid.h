/* The computer's hardware UUID and serial number, as HAL reports them. */
#ifndef JOSUUID_H
#define JOSUUID_H

#define JOSUUID_EXPORT __attribute__((visibility("default")))

/*
 * Each call asks HAL's hal-get-property afresh; nothing is cached.
 *
 * The result is a NUL-terminated string without leading and trailing white
 * space, in a block from malloc that the caller owns and releases with
 * free(). NULL means that no value could be obtained. The empty string is a
 * value: HAL answered, with white space only.
 *
 * Both functions may be called from any thread, at any time.
 */
JOSUUID_EXPORT char *getOSUUID();
JOSUUID_EXPORT char *getOSSerial();

#endif
