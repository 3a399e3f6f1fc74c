/* A native SIGSEGV handler, installed as a program that hosts a JVM installs
 * one: through HotSpot's signal chaining (libjsig.so preloaded), which keeps
 * it in a table of its own rather than in the kernel. */
#include <jni.h>
#include <setjmp.h>
#include <signal.h>

/* libjsig.so's, where it is loaded. Weak, not dlsym: glibc 2.34 moved dlsym
 * into libc at a new symbol version, which the JVMs of older releases'
 * glibc lack. */
extern void *JVM_get_signal_action(int sig) __attribute__((weak));

static sigjmp_buf recovery;
static volatile sig_atomic_t faults;
static int *volatile nowhere;

static void recover(int sig)
{
	(void)sig;
	faults = faults + 1;
	siglongjmp(recovery, 1);
}

JNIEXPORT jboolean JNICALL Java_org_korvane_mardel_SignalChainTest_chaining(JNIEnv *env,
									     jclass class)
{
	(void)env, (void)class;
	return JVM_get_signal_action != NULL;
}

JNIEXPORT void JNICALL Java_org_korvane_mardel_SignalChainTest_installHandler(JNIEnv *env,
									      jclass class)
{
	(void)env, (void)class;
	struct sigaction action = {0};
	action.sa_handler = recover;
	sigemptyset(&action.sa_mask);
	sigaction(SIGSEGV, &action, NULL);
}

JNIEXPORT jboolean JNICALL Java_org_korvane_mardel_SignalChainTest_handlerInstalled(JNIEnv *env,
										jclass class)
{
	(void)env, (void)class;
	struct sigaction now;
	return sigaction(SIGSEGV, NULL, &now) == 0 && now.sa_handler == recover;
}

/* A fault that the JVM does not own: HotSpot hands it to the chained handler,
 * or else ends the process. */
JNIEXPORT jboolean JNICALL Java_org_korvane_mardel_SignalChainTest_faultCaught(JNIEnv *env,
									   jclass class)
{
	(void)env, (void)class;
	sig_atomic_t before = faults;
	if (sigsetjmp(recovery, 1) == 0)
		*nowhere = 1;
	return faults == before + 1;
}
