/* A shell command's standard output, read by its caller. */
#ifndef COMMAND_H
#define COMMAND_H

#include <cstddef>
#include <sys/types.h>

/* How long, in all, one call may wait for the resources to start its
 * commands (see start_command). */
constexpr unsigned start_wait_ms = 2000;

/* A started command: its process and the read end of the pipe that is its
 * standard output. Destroying it closes the pipe, then reaps the process. */
struct command_output {
	pid_t child = -1;
	int pipe = -1;
	bool reaped = false;
	size_t begin = 0, end = 0; // what buffer holds that is not read yet
	char buffer[4096];

	command_output() = default;
	command_output(const command_output &) = delete;
	command_output &operator=(const command_output &) = delete;
	~command_output();
};

/* Runs `/bin/sh -c "exec command"` with the caller's environment and
 * standard error, as popen(command, "r") does, but without copying the
 * caller: the child shares the caller's memory until it has started the
 * shell, and the shell replaces itself with the command. A start that fails
 * for want of processes or memory is tried again after a growing wait, as
 * long as wait_left_ms lasts. False when the command could not be started. */
bool start_command(const char *command, command_output &output, unsigned &wait_left_ms);

/* Up to size bytes of what the command wrote; 0 at the end, that is once
 * the command has ended and all that it wrote has been read. A copy of the
 * pipe that another process holds does not keep the output open. */
size_t read_output(command_output &output, char *chunk, size_t size);

#endif
