/* Stands in for HAL's hal-get-property in the tests, as one process: where
 * qemu-user runs the build, every process the stand-in starts costs as much
 * as a call. It logs each command line to $FAKE_HAL_DIR/log and answers for
 * key K from files in $FAKE_HAL_DIR:
 *   K         printed byte for byte, if present
 *   K.delay   seconds to wait before answering
 *   K.after   seconds to run on after closing standard output
 *   K.status  exit status (default 0)
 * Where $FAKE_HAL_DIR/report exists, each run adds to it what it was started
 * with: its blocked signals (SigBlk, as /proc shows them) and its open
 * descriptors, as "SigBlk: ..." and "fds: 0 1 2". */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const char *dir;

static void path_of(char *path, size_t size, const char *name, const char *suffix)
{
	snprintf(path, size, "%s/%s%s", dir, name, suffix);
}

/* The number in a file, or fallback. */
static double number_in(const char *key, const char *suffix, double fallback)
{
	char path[4096];
	path_of(path, sizeof path, key, suffix);
	FILE *file = fopen(path, "r");
	double number = fallback;
	if (file) {
		if (fscanf(file, "%lf", &number) != 1)
			number = fallback;
		fclose(file);
	}
	return number;
}

static int write_all(const char *bytes, size_t length)
{
	while (length > 0) {
		ssize_t n = write(STDOUT_FILENO, bytes, length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return -1;
		bytes += n;
		length -= (size_t)n;
	}
	return 0;
}

static void print_answer(const char *key)
{
	char path[4096], chunk[65536];
	struct stat st;
	path_of(path, sizeof path, key, "");
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return;
	ssize_t n;
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
		while ((n = read(fd, chunk, sizeof chunk)) > 0 && write_all(chunk, (size_t)n) == 0)
			;
	close(fd);
}

static void wait_seconds(double seconds)
{
	struct timespec wait = {(time_t)seconds, (long)((seconds - (time_t)seconds) * 1e9)};
	while (nanosleep(&wait, &wait) != 0 && errno == EINTR)
		;
}

/* What this process was started with, before it opens anything else. */
static void report(void)
{
	char path[4096], line[256], fds[1024] = "";
	path_of(path, sizeof path, "report", "");
	if (access(path, F_OK) != 0)
		return;
	DIR *dir = opendir("/proc/self/fd");
	for (struct dirent *entry; dir && (entry = readdir(dir));)
		if (entry->d_name[0] != '.' && atoi(entry->d_name) != dirfd(dir))
			snprintf(fds + strlen(fds), sizeof fds - strlen(fds), " %s", entry->d_name);
	if (dir)
		closedir(dir);
	FILE *out = fopen(path, "a"), *status = fopen("/proc/self/status", "r");
	while (status && out && fgets(line, sizeof line, status))
		if (strncmp(line, "SigBlk:", 7) == 0)
			fputs(line, out);
	if (out)
		fprintf(out, "fds:%s\n", fds);
	if (status)
		fclose(status);
	if (out)
		fclose(out);
}

int main(int argc, char **argv)
{
	dir = getenv("FAKE_HAL_DIR");
	if (!dir) {
		fputs("hal-get-property: FAKE_HAL_DIR is not set\n", stderr);
		return 2;
	}
	report();
	char path[4096];
	path_of(path, sizeof path, "log", "");
	FILE *log = fopen(path, "a");
	const char *key = "";
	for (int i = 1; i < argc; i++) {
		if (log)
			fprintf(log, "%s%s", i > 1 ? " " : "", argv[i]);
		if (strcmp(argv[i], "--key") == 0 && i + 1 < argc)
			key = argv[i + 1];
	}
	if (log) {
		fputc('\n', log);
		fclose(log);
	}
	double delay = number_in(key, ".delay", 0);
	if (delay > 0)
		wait_seconds(delay);
	int status = (int)number_in(key, ".status", 0);
	double after = number_in(key, ".after", 0);
	print_answer(key);
	if (after > 0) {
		close(STDOUT_FILENO);
		wait_seconds(after);
	}
	return status;
}
