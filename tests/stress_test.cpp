/* The probe under load, in unusual hosts and with hostile answers. */
#include "fake_hal.h"
#include "library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;

using library::call;

/* Text in which a cut, a lost chunk or another answer cannot pass unseen. */
std::string numbered_text(char tag, size_t size)
{
	std::string text;
	for (size_t line = 0; text.size() < size; line++)
		text += tag + std::to_string(line) + "-";
	text.resize(size);
	return text;
}

class Stress : public testing::Test {
      protected:
	fake_hal::Scope hal;
};

TEST_F(Stress, ThreadsGetExactAnswers)
{
	const std::string uuid = numbered_text('U', 64 * 1024);
	const std::string serial = numbered_text('S', 64 * 1024 - 7);
	hal.answer(fake_hal::uuid_key, uuid + "\n");
	hal.answer(fake_hal::serial_key, serial + "\n");

	constexpr int threads = 8, calls = 12;
	std::atomic<int> wrong{0}, done{0};
	std::vector<std::thread> workers;
	for (int t = 0; t < threads; t++)
		workers.emplace_back([&, t] {
			for (int i = 0; i < calls; i++) {
				bool uuid_first = (t + i) % 2 == 0;
				wrong += call(uuid_first ? library::getOSUUID
							 : library::getOSSerial) !=
					 (uuid_first ? uuid : serial);
				wrong += call(uuid_first ? library::getOSSerial
							 : library::getOSUUID) !=
					 (uuid_first ? serial : uuid);
				done += 2;
			}
		});
	for (std::thread &worker : workers)
		worker.join();
	EXPECT_EQ(done, threads * calls * 2);
	EXPECT_EQ(wrong, 0);
}

/* Whether qemu-user runs this build's programs here. */
bool emulated()
{
	std::ifstream qemu_entry(QEMU_ENTRY);
	std::string state;
	return std::getline(qemu_entry, state) && state == "enabled";
}

/* This process's open descriptors, as the stand-in tool reports its own:
 * "fds: 0 1 2"; with inherited, only those a program it starts inherits. */
std::string descriptors(bool inherited = false)
{
	std::string fds = "fds:";
	DIR *dir = opendir("/proc/self/fd");
	for (dirent *entry; (entry = readdir(dir));) {
		int fd = atoi(entry->d_name);
		if (entry->d_name[0] != '.' && fd != dirfd(dir) &&
		    (!inherited || fd <= 2 || !(fcntl(fd, F_GETFD) & FD_CLOEXEC)))
			fds += " "s + entry->d_name;
	}
	closedir(dir);
	return fds;
}

void expect_no_child_left()
{
	errno = 0;
	EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
	EXPECT_EQ(errno, ECHILD) << "a child is left unreaped";
}

/* Nothing stays behind in the caller, and the tool gets nothing of the
 * call's own: its pipe's read end and all but descriptor 1 of its write end
 * stay out, and the calling thread's signal mask is the tool's. */
TEST_F(Stress, ManyCallsLeaveNoDescriptorsNorChildren)
{
	hal.answer(fake_hal::uuid_key, "U\n");
	hal.answer(fake_hal::serial_key, "S\n");
	hal.start_reports();
	sigset_t usr2, saved;
	sigemptyset(&usr2);
	sigaddset(&usr2, SIGUSR2);
	pthread_sigmask(SIG_BLOCK, &usr2, &saved);
	std::string caller_mask;
	for (std::ifstream status("/proc/thread-self/status"); std::getline(status, caller_mask);)
		if (caller_mask.rfind("SigBlk:", 0) == 0)
			break;
	const std::string before = descriptors(), inherited = descriptors(true);
	for (int i = 0; i < 100; i++) {
		ASSERT_EQ(call(library::getOSUUID), "U");
		ASSERT_EQ(call(library::getOSSerial), "S");
	}
	pthread_sigmask(SIG_SETMASK, &saved, nullptr);
	EXPECT_EQ(descriptors(), before);
	expect_no_child_left();
	if (emulated())
		return; // /proc shows the emulator's own descriptors and mask
	std::vector<std::string> expected;
	for (int i = 0; i < 200; i++)
		expected.insert(expected.end(), {caller_mask, inherited});
	EXPECT_EQ(hal.reports(), expected);
}

/* With standard input and output closed, popen's pipe gets descriptor 0
 * or 1, the very ones the child's output has to land on. */
TEST_F(Stress, StandardStreamsClosed)
{
	hal.answer(fake_hal::uuid_key, " U-2 \n");
	hal.answer(fake_hal::serial_key, "S-2\n");
	pid_t pid = fork();
	if (pid == 0) {
		close(STDIN_FILENO);
		close(STDOUT_FILENO);
		bool exact =
			call(library::getOSUUID) == "U-2" && call(library::getOSSerial) == "S-2";
		_exit(exact ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(waitpid(pid, &status, 0), pid);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

/* A caller's handler never runs in the child that shares its memory: a
 * storm of SIGWINCH (ignored by default, so the shell and the tool carry
 * on) at the whole process group while calls start. */
pid_t storm_caller;
volatile sig_atomic_t handled_elsewhere;

TEST_F(Stress, HandlersNeverRunInTheChild)
{
	hal.answer(fake_hal::uuid_key, "U-5\n");
	pid_t pid = fork();
	if (pid == 0) {
		setpgid(0, 0); // the storm's group: this process and its children
		storm_caller = getpid();
		struct sigaction action = {};
		action.sa_handler = [](int) { handled_elsewhere |= getpid() != storm_caller; };
		action.sa_flags = SA_RESTART;
		sigaction(SIGWINCH, &action, nullptr);
		std::atomic<bool> stop{false};
		std::thread storm([&] {
			while (!stop)
				kill(0, SIGWINCH);
		});
		int wrong = 0;
		for (int i = 0; i < 50; i++)
			wrong += call(library::getOSUUID) != "U-5";
		stop = true;
		storm.join();
		_exit(wrong > 0 ? 1 : handled_elsewhere ? 2 : 0);
	}
	int status = 0;
	ASSERT_EQ(waitpid(pid, &status, 0), pid);
	ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
	EXPECT_NE(WEXITSTATUS(status), 1) << "a call did not get the value";
	EXPECT_NE(WEXITSTATUS(status), 2) << "the caller's handler ran in the child";
}

/* A thread cancelled during a call leaves no descriptor and no child
 * behind: the call runs to its end (the tool answers after 300 ms), and the
 * thread ends at its next cancellation point. */
TEST_F(Stress, CancelledCallerLeavesNothing)
{
	hal.answer(fake_hal::uuid_key, "U-6\n");
	hal.delay(fake_hal::uuid_key, "0.3");
	const std::string before = descriptors();
	auto calling = [](void *) -> void * {
		for (;;) {
			free(library::getOSUUID());
			pthread_testcancel();
		}
	};
	for (int i = 0; i < 3; i++) {
		pthread_t caller;
		ASSERT_EQ(pthread_create(&caller, nullptr, calling, nullptr), 0);
		usleep(100 * 1000);
		pthread_cancel(caller);
		void *result = nullptr;
		pthread_join(caller, &result);
		EXPECT_EQ(result, PTHREAD_CANCELED);
	}
	usleep(400 * 1000); // a child left running has ended by now
	EXPECT_EQ(descriptors(), before);
	expect_no_child_left();
}

/* A process forked without exec copies the caller's descriptors, the pipe
 * of a call that is starting its command among them. The call ends when its
 * command has, whoever else holds the pipe; also where SIGCHLD is ignored,
 * and the kernel reaps the command itself. */
void forking_thread_beside_calls()
{
	std::atomic<bool> stop{false};
	std::vector<pid_t> forked;
	std::thread forker([&] {
		while (!stop) {
			pid_t pid = fork();
			if (pid == 0) {
				sleep(5);
				_exit(0);
			}
			forked.push_back(pid);
			usleep(2000);
		}
	});
	using std::chrono::milliseconds;
	milliseconds slowest{0};
	std::vector<std::optional<std::string>> values;
	for (int i = 0; i < 20; i++) {
		auto start = std::chrono::steady_clock::now();
		values.push_back(call(library::getOSUUID));
		slowest = std::max(slowest, std::chrono::duration_cast<milliseconds>(
						    std::chrono::steady_clock::now() - start));
	}
	stop = true;
	forker.join();
	for (pid_t pid : forked) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
	EXPECT_EQ(values, std::vector<std::optional<std::string>>(20, "U-4"));
	EXPECT_LT(slowest.count(), 2500); // a held pipe would hold a call for 5 s
}

TEST_F(Stress, ForkingThreadBesideCalls)
{
	hal.answer(fake_hal::uuid_key, "U-4\n");
	for (auto sigchld : {SIG_DFL, SIG_IGN}) {
		SCOPED_TRACE(sigchld == SIG_IGN ? "SIGCHLD ignored" : "SIGCHLD by default");
		auto saved = signal(SIGCHLD, sigchld);
		forking_thread_beside_calls();
		signal(SIGCHLD, saved);
	}
}

/* A user at its limit on processes (RLIMIT_NPROC, as a container's pids
 * limit or systemd's TasksMax would have it), with many threads calling at
 * once: every call gets the value, none a null. */
TEST_F(Stress, EveryCallGetsTheValueAtATaskLimit)
{
	if (emulated())
		GTEST_SKIP()
			<< "qemu-user runs this build here, and aborts where it cannot start a "
			   "thread of its own";
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run as a user of its own";
	/* A tool that answers at once, in every build, without a process of
	 * its own: echo, which prints its arguments. */
	char pattern[] = "/tmp/task-limit.XXXXXX";
	const std::string tool_dir = mkdtemp(pattern);
	ASSERT_EQ(symlink("/bin/echo", (tool_dir + "/hal-get-property").c_str()), 0);
	chmod(tool_dir.c_str(), 0755);
	const std::string value = fake_hal::arguments(fake_hal::uuid_key);
	free(library::getOSUUID()); // the library is loaded while root may read it

	constexpr int threads = 200;
	for (int spare : {16, 4}) {
		SCOPED_TRACE(std::to_string(spare) + " spare tasks");
		pid_t pid = fork();
		if (pid == 0) {
			setenv("PATH", (tool_dir + ":/usr/bin:/bin").c_str(), 1);
			// A user that runs nothing else: the run under the forking
			// C library may run beside this one.
			const uid_t nobody_else = 47000 + getppid() % 10000;
			if (setgroups(0, nullptr) || setgid(nobody_else) || setuid(nobody_else))
				_exit(255);
			std::atomic<bool> go{false};
			std::atomic<int> values{0};
			std::vector<std::thread> callers;
			for (int t = 0; t < threads; t++)
				callers.emplace_back([&] {
					while (!go)
						std::this_thread::yield();
					values += call(library::getOSUUID) == value;
				});
			rlim_t tasks = threads + 1;
			rlimit limit = {tasks + spare, tasks + spare};
			if (setrlimit(RLIMIT_NPROC, &limit) != 0)
				_exit(255);
			go = true;
			for (std::thread &caller : callers)
				caller.join();
			_exit(threads - values); // how many got no value
		}
		int status = 0;
		ASSERT_EQ(waitpid(pid, &status, 0), pid);
		ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
		EXPECT_EQ(WEXITSTATUS(status), 0) << "calls of " << threads << " without the value";
	}
	std::system(("rm -rf " + tool_dir).c_str());
}

/* Under the forking C library (LD_PRELOAD), where popen, system and
 * posix_spawn copy the caller as older glibc does, the library calls none of
 * them; popen itself shows that the shim counts. Run there alone. */
class ForkingLibc : public Stress {};

/* A start that fails for want of processes or memory is tried again; one
 * that always fails ends the call with null once its 2 s are spent. */
TEST_F(ForkingLibc, StartsThatFailAreTriedAgainFor2Seconds)
{
	auto fail_clones = reinterpret_cast<void (*)(int, int)>(dlsym(RTLD_DEFAULT, "fail_clones"));
	if (!fail_clones)
		GTEST_SKIP() << "not run under the forking C library";
	hal.answer(fake_hal::uuid_key, "U-7\n");
	for (int error : {EAGAIN, ENOMEM}) {
		SCOPED_TRACE(strerror(error));
		fail_clones(3, error);
		EXPECT_EQ(call(library::getOSUUID), "U-7");
	}
	fail_clones(-1, EAGAIN);
	pid_t pid = fork();
	if (pid == 0)
		_exit(call(library::getOSUUID) ? 1 : 0);
	fail_clones(0, 0);
	int status = -1;
	for (int ms = 0; ms < 10000 && waitpid(pid, &status, WNOHANG) == 0; ms += 10)
		usleep(10 * 1000);
	if (status == -1) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
	EXPECT_EQ(status, 0) << "a call that can never start its command did not end with null";
}

TEST_F(ForkingLibc, NoForkingStart)
{
	auto forking_calls = reinterpret_cast<long (*)()>(dlsym(RTLD_DEFAULT, "forking_calls"));
	if (!forking_calls)
		GTEST_SKIP() << "not run under the forking C library";
	hal.answer(fake_hal::uuid_key, "U-3\n");
	hal.answer(fake_hal::smbios_serial_key, "S-3\n");
	long before = forking_calls();
	EXPECT_EQ(call(library::getOSUUID), "U-3");
	EXPECT_EQ(call(library::getOSSerial), "S-3");
	EXPECT_EQ(forking_calls(), before);
	pclose(popen("true", "r"));
	EXPECT_EQ(forking_calls(), before + 1);
}

struct Hostile {
	const char *name;
	std::string printed;
	std::optional<std::string> expected;
};

/* 64 MiB, but 1 MiB under memory checkers: their realloc always moves the
 * block, and 64 MiB grown 128 bytes at a time would copy terabytes. */
size_t huge_answer_bytes()
{
#ifdef __SANITIZE_ADDRESS__
	return 1u << 20;
#else
	const char *bytes = getenv("HUGE_ANSWER_BYTES");
	return bytes ? strtoul(bytes, nullptr, 10) : 64u << 20;
#endif
}

TEST_F(Stress, HostileAnswers)
{
	const std::string huge = numbered_text('H', huge_answer_bytes());
	std::string high_bytes;
	for (int i = 0; i < 4096; i++)
		high_bytes += static_cast<char>(0x80 + i % 0x80);
	const Hostile cases[] = {
		{"huge", huge, huge},
		{"huge white space", std::string(1 << 20, ' ') + "\n", ""s},
		{"nul bytes", "V\0\0W"s + std::string(1000, '\0'), std::nullopt},
		{"high bytes", high_bytes, high_bytes},
		{"control bytes", "\x01\x02\x7f", "\x01\x02\x7f"s},
	};
	for (const Hostile &c : cases) {
		SCOPED_TRACE(c.name);
		hal.answer(fake_hal::uuid_key, c.printed);
		std::optional<std::string> value = call(library::getOSUUID);
		EXPECT_EQ(value.has_value(), c.expected.has_value());
		EXPECT_EQ(value.value_or("").size(), c.expected.value_or("").size());
		EXPECT_TRUE(value == c.expected);
	}
}

} // namespace
