/* The native methods of org.korvane.mardel.OperatingSystem. */
#include "org_korvane_mardel_OperatingSystem.h"

#include "heap_string.h"
#include "josuuid.h"

#include <cstdint>
#include <cstring>

namespace {

bool is_continuation(unsigned char byte)
{
	return (byte & 0xc0) == 0x80;
}

/* A well-formed four-byte UTF-8 sequence: U+10000 to U+10FFFF, no overlong form. */
bool is_four_byte(const unsigned char *s)
{
	unsigned char low = s[0] == 0xf0 ? 0x90 : 0x80, high = s[0] == 0xf4 ? 0x8f : 0xbf;
	return s[0] >= 0xf0 && s[0] <= 0xf4 && s[1] >= low && s[1] <= high &&
	       is_continuation(s[2]) && is_continuation(s[3]);
}

/* Decodes the sequence at s into out, adds the UTF-16 units written to count,
 * and returns the bytes it took. The string's NUL ends every sequence early,
 * so no byte past it is read. */
size_t decode(const unsigned char *s, jchar *out, size_t &count)
{
	unsigned char lead = s[0];
	/* The two- and three-byte forms (C0 80 and encoded surrogates among
	 * them) give what NewStringUTF has always given for them. */
	if (lead >= 0xc0 && lead <= 0xdf && is_continuation(s[1])) {
		out[count++] = (lead & 0x1f) << 6 | (s[1] & 0x3f);
		return 2;
	}
	if (lead >= 0xe0 && lead <= 0xef && is_continuation(s[1]) && is_continuation(s[2])) {
		out[count++] = (lead & 0x0f) << 12 | (s[1] & 0x3f) << 6 | (s[2] & 0x3f);
		return 3;
	}
	if (is_four_byte(s)) {
		uint32_t above_bmp = ((lead & 0x07) << 18 | (s[1] & 0x3f) << 12 |
				      (s[2] & 0x3f) << 6 | (s[3] & 0x3f)) -
				     0x10000;
		out[count++] = 0xd800 + (above_bmp >> 10);
		out[count++] = 0xdc00 + (above_bmp & 0x3ff);
		return 4;
	}
	/* ASCII, and every byte that begins no complete sequence: the char of
	 * the same value, which is what HotSpot makes of such a byte, so values
	 * read before keep their Java form. */
	out[count++] = lead;
	return 1;
}

bool is_ascii(const char *bytes)
{
	for (; *bytes; bytes++)
		if (static_cast<unsigned char>(*bytes) >= 0x80)
			return false;
	return true;
}

/* NewStringUTF reads modified UTF-8 only, and loses characters of anything
 * else (a four-byte sequence, a stray byte), so all but ASCII is decoded
 * here. Null when memory runs out. */
jstring java_string(JNIEnv *env, const char *bytes)
{
	size_t length = strlen(bytes);
	if (length > INT32_MAX)
		return nullptr;
	if (is_ascii(bytes))
		return env->NewStringUTF(bytes);

	/* No sequence gives more UTF-16 units than it has bytes. */
	heap_block<jchar> units(static_cast<jchar *>(malloc(length * sizeof(jchar))));
	if (!units)
		return nullptr;
	size_t count = 0;
	for (auto *s = reinterpret_cast<const unsigned char *>(bytes); *s;)
		s += decode(s, units.get(), count);
	return env->NewString(units.get(), static_cast<jsize>(count));
}

/* The probe's value as a Java string, or null. The identity string is freed
 * whatever the JVM did; an exception it raised stays pending for Java. */
jstring identity_to_java(JNIEnv *env, char *(*probe)())
{
	heap_string identity(probe());
	if (!identity)
		return nullptr;
	return java_string(env, identity.get());
}

} // namespace

/* The second parameter is not used, so the methods may be static or not. */

JNIEXPORT jstring JNICALL Java_org_korvane_mardel_OperatingSystem_getOSUUID(JNIEnv *env, jclass)
{
	return identity_to_java(env, getOSUUID);
}

JNIEXPORT jstring JNICALL Java_org_korvane_mardel_OperatingSystem_getOSSerialNumber(JNIEnv *env,
										    jclass)
{
	return identity_to_java(env, getOSSerial);
}
