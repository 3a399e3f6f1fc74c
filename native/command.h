/* A shell command's standard output, read by its caller. */
#ifndef COMMAND_H
#define COMMAND_H

#include <cstdio>
#include <memory>
#include <sys/types.h>

/* Closing the stream reaps the command's process. */
struct command_reaper {
	pid_t child;
	void operator()(FILE *stream) const;
};
using command_output = std::unique_ptr<FILE, command_reaper>;

/* Runs `/bin/sh -c command` with the caller's environment and standard error,
 * as popen(command, "r") does, but without copying the caller: the child
 * shares the caller's memory until it has started the shell, whatever the C
 * library's popen does. Null when the command cannot be started. */
command_output run_command(const char *command);

#endif
