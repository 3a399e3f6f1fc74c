/* The native methods of org.korvane.mardel.OperatingSystem. */
#include "org_korvane_mardel_OperatingSystem.h"

#include "heap_string.h"
#include "josuuid.h"

namespace {

/* The probe's value as a Java string, or null. The identity string is freed
 * whatever NewStringUTF did; an exception it raised stays pending for Java. */
jstring identity_to_java(JNIEnv *env, char *(*probe)())
{
	heap_string identity(probe());
	if (!identity)
		return nullptr;
	return env->NewStringUTF(identity.get());
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
