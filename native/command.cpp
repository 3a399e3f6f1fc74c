/*
 * Starting a shell command as posix_spawn has since glibc 2.24: a child that
 * shares the caller's memory (CLONE_VM | CLONE_VFORK), on a stack of its own,
 * until it starts the shell. Before 2.29 glibc's popen forked, and fork copies
 * the page tables of the whole caller: tens of milliseconds in a large JVM,
 * and under strict overcommit no child at all.
 */
#include "command.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr size_t child_stack_size = 64 * 1024;

/* Everything the child needs, made by the caller: the child allocates nothing. */
struct shell_start {
	const char *argv[4];
	int output;	      // the pipe's write end, for the child's descriptor 1
	sigset_t caller_mask; // the calling thread's signal mask, for the shell
};

/* Both ends are closed on exec from the start, so that a child that another
 * thread starts meanwhile cannot hold the write end open. pipe2 is called by
 * its number: glibc has the function from 2.9 on only. On kernels before
 * 2.6.27, which lack the call, the flag is set afterwards. The flag is set and
 * cleared with ioctl, not fcntl, which binds to GLIBC_2.28 on i386 and armhf. */
bool open_pipe(int ends[2])
{
	if (syscall(SYS_pipe2, ends, O_CLOEXEC) == 0)
		return true;
	if (errno != ENOSYS || pipe(ends) != 0)
		return false;
	ioctl(ends[0], FIOCLEX);
	ioctl(ends[1], FIOCLEX);
	return true;
}

/* Runs in the child, on its own stack, sharing the caller's memory while the
 * caller waits: it writes nothing that the caller reads. Every signal is still
 * blocked; a handler of the caller's must not run here, so each handled signal
 * goes back to its default before the caller's mask is restored. The sanitizers
 * would poison and unpoison this stack as if it were the caller's. */
__attribute__((no_sanitize("address"))) int start_shell(void *argument)
{
	const auto *start = static_cast<const shell_start *>(argument);
	for (int sig = 1; sig < NSIG; sig++) {
		struct sigaction action;
		if (sigaction(sig, nullptr, &action) != 0 || action.sa_handler == SIG_DFL ||
		    action.sa_handler == SIG_IGN)
			continue;
		action.sa_handler = SIG_DFL;
		action.sa_flags = 0;
		sigaction(sig, &action, nullptr);
	}
	/* With the caller's standard output closed, the write end may already be
	 * descriptor 1, where dup2 would leave it to be closed on exec. */
	int moved = start->output == STDOUT_FILENO ? ioctl(STDOUT_FILENO, FIONCLEX)
						   : dup2(start->output, STDOUT_FILENO);
	if (moved < 0)
		return 127;
	sigprocmask(SIG_SETMASK, &start->caller_mask, nullptr);
	execve("/bin/sh", const_cast<char *const *>(start->argv), environ);
	return 127;
}

pid_t start_child(shell_start &start)
{
	void *stack = mmap(nullptr, child_stack_size, PROT_READ | PROT_WRITE,
			   MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
	if (stack == MAP_FAILED)
		return -1;
	sigset_t all;
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &start.caller_mask);
	/* The stack grows down on every target. The caller resumes once the
	 * child has started the shell or given up. */
	pid_t child = clone(start_shell, static_cast<char *>(stack) + child_stack_size,
			    CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
	sigprocmask(SIG_SETMASK, &start.caller_mask, nullptr);
	munmap(stack, child_stack_size);
	return child;
}

/* The exit status is not looked at. A caller that ignores SIGCHLD, or reaps
 * children itself, ends the wait with ECHILD once the child is gone. */
void reap(pid_t child)
{
	while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
	}
}

} // namespace

void command_reaper::operator()(FILE *stream) const
{
	/* The read end goes first: a child still writing then stops. */
	fclose(stream);
	reap(child);
}

command_output run_command(const char *command)
{
	int ends[2];
	if (!open_pipe(ends))
		return nullptr;
	shell_start start = {{"sh", "-c", command, nullptr}, ends[1], {}};
	pid_t child = start_child(start);
	close(ends[1]);
	FILE *stream = child < 0 ? nullptr : fdopen(ends[0], "r");
	if (stream)
		return command_output(stream, command_reaper{child});
	close(ends[0]);
	if (child >= 0)
		reap(child);
	return nullptr;
}
