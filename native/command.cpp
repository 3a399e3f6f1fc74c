/*
 * Starting a shell command as posix_spawn has since glibc 2.24: a child that
 * shares the caller's memory (CLONE_VM | CLONE_VFORK), on a stack of its own,
 * until it starts the shell. Before 2.29 glibc's popen forked, and fork copies
 * the page tables of the whole caller: tens of milliseconds in a large JVM,
 * and under strict overcommit no child at all.
 */
#include "command.h"

#include "heap_string.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr size_t child_stack_size = 64 * 1024;
/* How often a command that is quiet on its pipe is checked for its end. */
constexpr int exit_check_ms = 10;
constexpr unsigned longest_start_wait_ms = 50;

/* The kernel's signal sets have 64 signals on every target, and its struct
 * sigaction begins with the handler on every target; the rest (flags, the
 * restorer where there is one, the mask) takes at most three 8-byte words. */
constexpr long kernel_sigset_size = 64 / 8;
struct kernel_sigaction {
	void (*handler)(int);
	unsigned char rest[3 * 8];
};

/* Everything the child needs, made by the caller: the child allocates nothing. */
struct shell_start {
	const char *argv[4];
	const char *const *envp; // the caller's environment, with a safe PATH
	int output;		 // the pipe's write end, for the child's descriptor 1
	sigset_t caller_mask;	 // the calling thread's signal mask, for the shell
	int error;		 // why the shell could not be started, from the child
};

/* The caller's environment for the shell, whose PATH lookup of the command
 * never reaches the working directory (see shell_environment). */
struct environment {
	heap_block<const char *> entries;
	heap_string path; // "PATH=..."
};

bool is_path(const char *entry)
{
	return strncmp(entry, "PATH=", 5) == 0;
}

/* The absolute elements of path, in their order, joined by colons: an empty
 * element means the working directory to every shell, and a relative one
 * lies under it. out has room for strlen(path) + 1 bytes. */
size_t absolute_elements(const char *path, char *out)
{
	size_t length = 0;
	for (const char *element = path;;) {
		const char *end = strchr(element, ':');
		size_t n = end ? static_cast<size_t>(end - element) : strlen(element);
		if (n > 0 && element[0] == '/') {
			if (length > 0)
				out[length++] = ':';
			memmove(out + length, element, n);
			length += n;
		}
		if (!end)
			break;
		element = end + 1;
	}
	out[length] = '\0';
	return length;
}

/* A copy of the caller's environment whose PATH holds the absolute elements
 * of the caller's; where it has none, or no PATH at all (where bash would
 * search its built-in list, which ends in "."), the system's default
 * (confstr's _CS_PATH: "/bin:/usr/bin"). False when memory runs out. */
bool shell_environment(environment &made)
{
	const char *path = getenv("PATH");
	size_t fallback = confstr(_CS_PATH, nullptr, 0);
	size_t room = (path ? strlen(path) : 0) + fallback + 1;
	made.path.reset(static_cast<char *>(malloc(5 + room)));
	if (!made.path)
		return false;
	char *value = made.path.get() + 5;
	memmove(made.path.get(), "PATH=", 5);
	if ((!path || absolute_elements(path, value) == 0) &&
	    (fallback == 0 || confstr(_CS_PATH, value, room) == 0))
		memmove(value, "/usr/bin:/bin", sizeof "/usr/bin:/bin");

	size_t count = 0;
	while (environ[count])
		count++;
	made.entries.reset(static_cast<const char **>(malloc((count + 2) * sizeof(char *))));
	if (!made.entries)
		return false;
	const char **entry = made.entries.get();
	for (size_t i = 0; i < count; i++)
		if (!is_path(environ[i]))
			*entry++ = environ[i];
	*entry++ = made.path.get();
	*entry = nullptr;
	return true;
}

/* Both ends are closed on exec from the start, so that a child that another
 * thread starts meanwhile cannot hold the write end open. pipe2 is called by
 * its number: glibc has the function from 2.9 on only. On kernels before
 * 2.6.27, which lack the call, the flag is set afterwards. The flags are set
 * with ioctl, not fcntl, which binds to GLIBC_2.28 on i386 and armhf. The
 * read end does not block: the caller waits in poll. */
bool open_pipe(int ends[2])
{
	if (syscall(SYS_pipe2, ends, O_CLOEXEC) != 0) {
		if (errno != ENOSYS || pipe(ends) != 0)
			return false;
		ioctl(ends[0], FIOCLEX);
		ioctl(ends[1], FIOCLEX);
	}
	int on = 1;
	ioctl(ends[0], FIONBIO, &on);
	return true;
}

/* Runs in the child, on its own stack, sharing the caller's memory while the
 * caller waits: it writes nothing that the caller reads but the error. It
 * makes its system calls through syscall(), not through the wrappers that a
 * signal-chaining library replaces: HotSpot's libjsig keeps the table of its
 * sigaction in memory that is the caller's here. (A library preloaded to
 * replace syscall() itself would still run here.) Every signal is still
 * blocked; a handler of the caller's must not run here, so each handled
 * signal goes back to its default before the caller's mask is restored. The
 * sanitizers would poison and unpoison this stack as if it were the caller's. */
__attribute__((no_sanitize("address"))) int start_shell(void *argument)
{
	auto *start = static_cast<shell_start *>(argument);
	const kernel_sigaction default_action = {};
	for (long sig = 1; sig <= 64; sig++) {
		kernel_sigaction action = {};
		if (syscall(SYS_rt_sigaction, sig, nullptr, &action, kernel_sigset_size) == 0 &&
		    action.handler != SIG_DFL && action.handler != SIG_IGN)
			syscall(SYS_rt_sigaction, sig, &default_action, nullptr,
				kernel_sigset_size);
	}
	/* With the caller's standard output closed, the write end may already be
	 * descriptor 1, where dup2 would leave it to be closed on exec. */
#ifdef SYS_dup2
	const long dup_call = SYS_dup2;
#else
	const long dup_call = SYS_dup3; // with flags 0, where the kernel has no dup2
#endif
	long moved = start->output == STDOUT_FILENO
			     ? syscall(SYS_ioctl, STDOUT_FILENO, FIONCLEX)
			     : syscall(dup_call, start->output, STDOUT_FILENO, 0);
	if (moved >= 0) {
		syscall(SYS_rt_sigprocmask, SIG_SETMASK, &start->caller_mask, nullptr,
			kernel_sigset_size);
		syscall(SYS_execve, "/bin/sh", start->argv, start->envp);
	}
	start->error = errno;
	return 127;
}

/* The exit status is not looked at. A caller that ignores SIGCHLD, or reaps
 * children itself, ends the wait with ECHILD once the child is gone. */
void reap(pid_t child)
{
	while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
	}
}

/* The child's process, running the shell, or -1 with errno set. */
pid_t start_child(shell_start &start)
{
	void *stack = mmap(nullptr, child_stack_size, PROT_READ | PROT_WRITE,
			   MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
	if (stack == MAP_FAILED)
		return -1;
	sigset_t all;
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &start.caller_mask);
	start.error = 0;
	/* The stack grows down on every target. The caller resumes once the
	 * child has started the shell or given up. */
	pid_t child = clone(start_shell, static_cast<char *>(stack) + child_stack_size,
			    CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
	int error = child < 0 ? errno : start.error;
	sigprocmask(SIG_SETMASK, &start.caller_mask, nullptr);
	munmap(stack, child_stack_size);
	if (child >= 0 && error != 0) {
		reap(child);
		child = -1;
	}
	errno = error;
	return child;
}

/* Whether the child has ended, reaping it if so. */
bool has_ended(pid_t child)
{
	pid_t reaped;
	while ((reaped = waitpid(child, nullptr, WNOHANG)) < 0 && errno == EINTR) {
	}
	return reaped != 0;
}

void sleep_ms(unsigned ms)
{
	timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
	while (nanosleep(&left, &left) != 0 && errno == EINTR) {
	}
}

/* Under a limit on processes (RLIMIT_NPROC, a container's pids limit) or
 * with memory short, a start fails for a moment only: as other processes
 * end, a later one succeeds. A missing or unusable shell is no such case. */
bool worth_retrying(int error)
{
	return error == EAGAIN || error == ENOMEM;
}

/* Fills the buffer from the pipe; false at the end of the output. */
bool refill(command_output &output)
{
	for (;;) {
		/* The read end does not block: no signal interrupts a read. */
		ssize_t n = read(output.pipe, output.buffer, sizeof output.buffer);
		if (n >= 0) {
			output.begin = 0;
			output.end = n;
			return n > 0;
		}
		if (errno != EAGAIN || output.reaped)
			return false;
		/* Nothing to read. The end of file may never come, if a process
		 * forked from the caller without exec holds a copy of the write
		 * end: once the command has ended, what is left in the pipe is
		 * all there is. A signal handler installed without SA_RESTART
		 * interrupts poll (EINTR): that only ends this wait. */
		pollfd ready = {output.pipe, POLLIN, 0};
		if (poll(&ready, 1, exit_check_ms) == 0)
			output.reaped = has_ended(output.child);
	}
}

} // namespace

command_output::~command_output()
{
	/* The read end goes first: a child still writing then stops. */
	if (pipe >= 0)
		close(pipe);
	if (child >= 0 && !reaped)
		reap(child);
}

bool start_command(const char *command, command_output &output, unsigned &wait_left_ms)
{
	/* exec: the shell runs the command in its own process rather than
	 * forking for it, so that a call takes one process, not two. */
	/* Put together by hand: snprintf binds to GLIBC_2.4 on s390x. */
	static const char exec_word[] = "exec ";
	char script[512];
	size_t length = strlen(command);
	if (sizeof exec_word + length > sizeof script)
		return false;
	memmove(script, exec_word, sizeof exec_word - 1);
	memmove(script + sizeof exec_word - 1, command, length + 1);
	environment shell_env;
	int ends[2];
	if (!shell_environment(shell_env) || !open_pipe(ends))
		return false;
	shell_start start = {
		{"sh", "-c", script, nullptr}, shell_env.entries.get(), ends[1], {}, 0};
	pid_t child;
	unsigned wait = 1;
	while ((child = start_child(start)) < 0 && worth_retrying(errno) && wait_left_ms > 0) {
		wait = wait < wait_left_ms ? wait : wait_left_ms;
		sleep_ms(wait);
		wait_left_ms -= wait;
		wait = wait * 2 < longest_start_wait_ms ? wait * 2 : longest_start_wait_ms;
	}
	close(ends[1]);
	if (child < 0) {
		close(ends[0]);
		return false;
	}
	output.child = child;
	output.pipe = ends[0];
	return true;
}

size_t read_output(command_output &output, char *chunk, size_t size)
{
	if (output.begin == output.end && !refill(output))
		return 0;
	size_t n = output.end - output.begin < size ? output.end - output.begin : size;
	/* memmove, not memcpy: on x86-64 memcpy binds to GLIBC_2.14. */
	memmove(chunk, output.buffer + output.begin, n);
	output.begin += n;
	return n;
}
