/*
 * Loaded with LD_PRELOAD: popen, pclose, system and posix_spawn as glibc had
 * them before 2.24 (posix_spawn) and 2.29 (popen), starting every child with
 * fork, which copies the caller's page tables. forking_calls() counts the
 * starts, so a test can tell that the library made none. fail_clones()
 * makes clone fail on demand, as it does for want of processes or memory.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static long starts;

/* __sync rather than __atomic: ARMv5 has no atomic instructions, and
 * libgcc carries out __sync through the kernel's helpers. */
long forking_calls(void)
{
	return __sync_add_and_fetch(&starts, 0);
}

static void counted(void)
{
	__sync_add_and_fetch(&starts, 1);
}

/* clone fails with clone_error the next clone_failures times (-1: always). */
static int clone_failures, clone_error;

void fail_clones(int count, int error)
{
	clone_failures = count;
	clone_error = error;
}

int clone(int (*function)(void *), void *stack, int flags, void *argument, ...)
{
	if (clone_failures != 0) {
		clone_failures -= clone_failures > 0;
		errno = clone_error;
		return -1;
	}
	/* The library's flags ask for no thread ids and no TLS: the arguments
	 * that would carry them are not passed on. */
	typedef int clone_function(int (*)(void *), void *, int, void *, ...);
	clone_function *real = (clone_function *)dlsym(RTLD_NEXT, "clone");
	return real(function, stack, flags, argument);
}

/* The shell's children are not to be counted, nor to be slowed down. */
__attribute__((constructor)) static void this_process_only(void)
{
	unsetenv("LD_PRELOAD");
}

/* popen's children, by descriptor, for pclose. */
static pid_t children[1024];

FILE *popen(const char *command, const char *mode)
{
	int ends[2], reading = mode[0] == 'r';
	if ((mode[0] != 'r' && mode[0] != 'w') || pipe(ends) != 0)
		return NULL;
	counted();
	pid_t child = fork();
	if (child == 0) {
		dup2(ends[reading ? 1 : 0], reading ? STDOUT_FILENO : STDIN_FILENO);
		close(ends[0]);
		close(ends[1]);
		execl("/bin/sh", "sh", "-c", command, (char *)NULL);
		_exit(127);
	}
	close(ends[reading ? 1 : 0]);
	int kept = ends[reading ? 0 : 1];
	FILE *stream = child > 0 && kept < 1024 ? fdopen(kept, reading ? "r" : "w") : NULL;
	if (!stream) {
		close(kept);
		if (child > 0)
			waitpid(child, NULL, 0);
		return NULL;
	}
	children[kept] = child;
	return stream;
}

int pclose(FILE *stream)
{
	pid_t child = children[fileno(stream)];
	int status;
	fclose(stream);
	while (waitpid(child, &status, 0) < 0)
		if (errno != EINTR)
			return -1;
	return status;
}

int system(const char *command)
{
	int status;
	counted();
	pid_t child = fork();
	if (child == 0) {
		execl("/bin/sh", "sh", "-c", command, (char *)NULL);
		_exit(127);
	}
	while (waitpid(child, &status, 0) < 0)
		if (errno != EINTR)
			return -1;
	return status;
}

/* The caller is forked first; the forked copy then starts the program with
 * the real posix_spawn, and passes on how it ended. */
int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *actions,
		const posix_spawnattr_t *attributes, char *const argv[], char *const envp[])
{
	typedef int spawn_function(pid_t *, const char *, const posix_spawn_file_actions_t *,
				   const posix_spawnattr_t *, char *const[], char *const[]);
	spawn_function *real = (spawn_function *)dlsym(RTLD_NEXT, "posix_spawn");
	counted();
	pid_t child = fork();
	if (child < 0)
		return errno;
	if (child == 0) {
		pid_t program;
		int status;
		if (real(&program, path, actions, attributes, argv, envp) != 0 ||
		    waitpid(program, &status, 0) < 0)
			_exit(127);
		if (WIFSIGNALED(status))
			raise(WTERMSIG(status));
		_exit(WEXITSTATUS(status));
	}
	if (pid)
		*pid = child;
	return 0;
}
