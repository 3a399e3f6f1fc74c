/*
 * How close the probe runs to what its design allows. Each figure is a ratio
 * of two medians measured side by side, in one run, with the repetitions of
 * the benchmarks interleaved at random: the machines are noisy.
 *
 *   probe_bench          the probe against its floors
 *   probe_bench --jni    the JNI call against the native call, in a process
 *                        that hosts a JVM
 *
 * Under LD_PRELOAD=libforking_libc.so (tests/forking-libc.c), whose popen and
 * posix_spawn fork as glibc's did before 2.29 and 2.24, it measures the call
 * from a small and from a large process alone.
 */
#include "library.h"

#include <benchmark/benchmark.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char uuid_command[] =
	"hal-get-property --udi /org/freedesktop/Hal/devices/computer --key system.hardware.uuid";
const char smbios_uuid_command[] =
	"hal-get-property --udi /org/freedesktop/Hal/devices/computer --key smbios.system.uuid";
constexpr size_t huge_bytes = 64u << 20;

std::string scratch; // a fake DMI tree, and a tool that prints a huge answer
std::string normal_path, huge_path;

void write_file(const std::string &path, const std::string &bytes)
{
	std::ofstream(path, std::ios::binary) << bytes;
}

void set_up_scratch()
{
	char pattern[] = "/tmp/osidentity-bench.XXXXXX";
	scratch = mkdtemp(pattern);
	std::system(("mkdir -p " + scratch + "/sys/class/dmi/id " + scratch + "/huge " + scratch +
		     "/empty")
			    .c_str());
	write_file(scratch + "/sys/class/dmi/id/product_uuid",
		   "4c4c4544-004a-3510-8052-b4c04f4a4d31\n");
	setenv("HOST_SYS", (scratch + "/sys").c_str(), 1);

	std::string answer(huge_bytes, 'H');
	answer.back() = '\n';
	write_file(scratch + "/huge/answer", answer);
	write_file(scratch + "/huge/hal-get-property",
		   "#!/bin/sh\nexec cat " + scratch + "/huge/answer\n");
	chmod((scratch + "/huge/hal-get-property").c_str(), 0755);

	const char *path = getenv("PATH");
	normal_path = std::string(TOOL_DIR) + ":" + (path ? path : "/usr/bin:/bin");
	huge_path = scratch + "/huge:" + normal_path;
	setenv("PATH", normal_path.c_str(), 1);
}

/* What any design that runs the command with popen pays. */
size_t read_through_popen(const char *command, size_t chunk)
{
	std::vector<char> buffer(chunk);
	FILE *stream = popen(command, "r");
	size_t total = 0, n;
	while ((n = fread(buffer.data(), 1, chunk, stream)) > 0)
		total += n;
	pclose(stream);
	return total;
}

void call_probe(benchmark::State &state)
{
	for (auto _ : state) {
		char *value = library::getOSUUID();
		if (!value)
			state.SkipWithError("no value");
		free(value);
	}
}

void popen_floor(benchmark::State &state)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(read_through_popen(uuid_command, 128));
}

/* The true nulls: a machine without a value (an empty /sys) and one without
 * the tool. Both commands of the chain run; what they say on standard error
 * is dropped. */
template <void (*measure)(benchmark::State &), bool with_tool>
void without_value(benchmark::State &state)
{
	int saved_stderr = dup(STDERR_FILENO);
	int null = open("/dev/null", O_WRONLY);
	dup2(null, STDERR_FILENO);
	close(null);
	if (with_tool)
		setenv("HOST_SYS", (scratch + "/empty").c_str(), 1);
	else
		setenv("PATH", "/usr/bin:/bin", 1);
	measure(state);
	setenv("HOST_SYS", (scratch + "/sys").c_str(), 1);
	setenv("PATH", normal_path.c_str(), 1);
	dup2(saved_stderr, STDERR_FILENO);
	close(saved_stderr);
}

void call_probe_for_null(benchmark::State &state)
{
	for (auto _ : state) {
		char *value = library::getOSUUID();
		if (value)
			state.SkipWithError("a value");
		free(value);
	}
}

void popen_chain_floor(benchmark::State &state)
{
	for (auto _ : state) {
		benchmark::DoNotOptimize(read_through_popen(uuid_command, 128));
		benchmark::DoNotOptimize(read_through_popen(smbios_uuid_command, 128));
	}
}

void probe_in_large_process(benchmark::State &state)
{
	constexpr size_t heap = size_t(1) << 30;
	char *block = static_cast<char *>(malloc(heap));
	memset(block, 1, heap);
	benchmark::DoNotOptimize(block);
	/* Writing 1 GiB has just flushed every cache; a few calls bring back
	 * what the others find warm, so only the size of the process differs. */
	for (int i = 0; i < 5; i++)
		free(library::getOSUUID());
	call_probe(state);
	free(block);
}

/* What a start by fork, as glibc's popen made it before 2.29, pays. */
size_t read_through_fork(const char *command)
{
	int ends[2];
	if (pipe(ends) != 0)
		return 0;
	pid_t child = fork();
	if (child == 0) {
		dup2(ends[1], STDOUT_FILENO);
		close(ends[0]);
		close(ends[1]);
		execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
		_exit(127);
	}
	close(ends[1]);
	char chunk[128];
	size_t total = 0;
	ssize_t n;
	while ((n = read(ends[0], chunk, sizeof chunk)) > 0)
		total += n;
	close(ends[0]);
	waitpid(child, nullptr, 0);
	return total;
}

/* 8 GiB touched in 4 KiB pages, made and released around each repetition, so
 * that the other benchmarks run in a small process. */
template <void (*measure)(benchmark::State &)> void in_8GiB_process(benchmark::State &state)
{
	constexpr size_t heap = size_t(8) << 30;
	void *block =
		mmap(nullptr, heap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (block == MAP_FAILED) {
		state.SkipWithError("cannot map 8 GiB");
		return;
	}
	madvise(block, heap, MADV_NOHUGEPAGE);
	memset(block, 1, heap);
	for (int i = 0; i < 5; i++)
		free(library::getOSUUID());
	measure(state);
	munmap(block, heap);
}

void fork_start(benchmark::State &state)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(read_through_fork(uuid_command));
}

void start(benchmark::State &state, std::vector<std::string> command)
{
	std::vector<char *> argv;
	for (std::string &word : command)
		argv.push_back(word.data());
	argv.push_back(nullptr);
	posix_spawn_file_actions_t quiet;
	posix_spawn_file_actions_init(&quiet);
	posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	for (auto _ : state) {
		pid_t pid;
		int status;
		posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
		waitpid(pid, &status, 0);
	}
	posix_spawn_file_actions_destroy(&quiet);
}

void start_tool(benchmark::State &state)
{
	start(state, {std::string(TOOL_DIR) + "/hal-get-property", "--udi",
		      "/org/freedesktop/Hal/devices/computer", "--key", "system.hardware.uuid"});
}

void start_true(benchmark::State &state)
{
	start(state, {"/bin/true"});
}

void huge_answer(benchmark::State &state)
{
	setenv("PATH", huge_path.c_str(), 1);
	call_probe(state);
	setenv("PATH", normal_path.c_str(), 1);
}

void huge_fixed_buffer(benchmark::State &state)
{
	setenv("PATH", huge_path.c_str(), 1);
	for (auto _ : state)
		benchmark::DoNotOptimize(read_through_popen(uuid_command, 64 * 1024));
	setenv("PATH", normal_path.c_str(), 1);
}

long status_kib(const char *field)
{
	std::ifstream status("/proc/self/status");
	for (std::string line; std::getline(status, line);)
		if (line.rfind(field, 0) == 0)
			return atol(line.c_str() + strlen(field));
	return -1;
}

/* The peak resident memory that one huge answer adds, as a multiple of the
 * answer's size. */
double huge_answer_peak_ratio()
{
	setenv("PATH", huge_path.c_str(), 1);
	write_file("/proc/self/clear_refs", "5"); // resets VmHWM to VmRSS
	long before = status_kib("VmRSS:");
	char *value = library::getOSUUID();
	long peak = status_kib("VmHWM:");
	free(value);
	setenv("PATH", normal_path.c_str(), 1);
	return (peak - before) * 1024.0 / huge_bytes;
}

/* The JVM, hosted in this process, calling the library's JNI entry point. */
JNIEnv *env;
jclass operating_system;
jmethodID get_os_uuid;

bool start_jvm()
{
	void *libjvm = dlopen(LIBJVM, RTLD_NOW | RTLD_GLOBAL);
	auto create = libjvm ? reinterpret_cast<jint (*)(JavaVM **, void **, void *)>(
				       dlsym(libjvm, "JNI_CreateJavaVM"))
			     : nullptr;
	if (!create)
		return false;
	std::string class_path = "-Djava.class.path=" OSIDENTITY_JAR;
	std::string library_path = "-Djava.library.path=" LIBRARY_DIR;
	JavaVMOption options[] = {{class_path.data(), nullptr}, {library_path.data(), nullptr}};
	JavaVMInitArgs args{JNI_VERSION_1_8, 2, options, JNI_FALSE};
	JavaVM *vm;
	if (create(&vm, reinterpret_cast<void **>(&env), &args) != JNI_OK)
		return false;
	operating_system = env->FindClass("org/korvane/mardel/OperatingSystem");
	get_os_uuid = operating_system ? env->GetStaticMethodID(operating_system, "getOSUUID",
								"()Ljava/lang/String;")
				       : nullptr;
	return get_os_uuid != nullptr;
}

void jni_call(benchmark::State &state)
{
	for (auto _ : state) {
		jobject value = env->CallStaticObjectMethod(operating_system, get_os_uuid);
		if (!value)
			state.SkipWithError("no value");
		env->DeleteLocalRef(value);
	}
}

/* Keeps the median of every benchmark, for the ratios. */
class MedianReporter : public benchmark::ConsoleReporter {
      public:
	MedianReporter() : ConsoleReporter(OO_Tabular) {}
	std::map<std::string, double> medians;
	void ReportRuns(const std::vector<Run> &runs) override
	{
		for (const Run &run : runs)
			if (run.aggregate_name == "median")
				medians[run.run_name.function_name] = run.GetAdjustedRealTime();
		ConsoleReporter::ReportRuns(runs);
	}
};

struct Figure {
	const char *what;
	const char *measured;
	const char *floor;
	double target; // 0: none, the figure is only reported
};

const Figure probe_figures[] = {
	{"getOSUUID() / popen floor", "getOSUUID", "popen_floor", 1.05},
	{"no value: getOSUUID() / both keys through popen", "getOSUUID_no_value",
	 "popen_floor_no_value", 1.05},
	{"no tool: getOSUUID() / both keys through popen", "getOSUUID_no_tool",
	 "popen_floor_no_tool", 1.05},
	{"getOSUUID() with 1 GiB touched / popen floor", "getOSUUID_1GiB_heap", "popen_floor", 1.2},
	{"hal-get-property start / /bin/true start", "start_hal_get_property", "start_bin_true",
	 1.2},
	{"64 MiB answer / same pipe into a fixed buffer", "huge_answer_64MiB",
	 "huge_answer_fixed_buffer", 0},
};

const Figure large_process_figures[] = {
	{"getOSUUID() with 8 GiB touched / small process", "getOSUUID_8GiB_heap", "getOSUUID", 1.1},
	{"forking start with 8 GiB touched / getOSUUID() there", "fork_start_8GiB_heap",
	 "getOSUUID_8GiB_heap", 0},
};

const Figure jni_figures[] = {
	{"JNI call / native call", "jni_getOSUUID", "getOSUUID", 1.05},
};

void print_figure(const char *what, double ratio, double target)
{
	if (target == 0)
		printf("%-58s %7.3f %8s\n", what, ratio, "-");
	else
		printf("%-58s %7.3f  <= %.2f%s\n", what, ratio, target,
		       ratio <= target ? "" : "  MISSED");
}

template <size_t n>
void print_figures(const std::map<std::string, double> &medians, const Figure (&figures)[n])
{
	printf("\n%-58s %7s %8s\n", "figure (ratio of medians)", "ratio", "target");
	for (const Figure &f : figures) {
		auto measured = medians.find(f.measured), floor = medians.find(f.floor);
		if (measured == medians.end() || floor == medians.end())
			continue;
		double ratio = measured->second / floor->second;
		print_figure(f.what, ratio, f.target);
	}
}

} // namespace

int main(int argc, char **argv)
{
	bool jni = argc > 1 && strcmp(argv[1], "--jni") == 0;
	char repetitions[] = "--benchmark_repetitions=21";
	char interleave[] = "--benchmark_enable_random_interleaving=true";
	char aggregates[] = "--benchmark_report_aggregates_only=true";
	std::vector<char *> args = {argv[0], repetitions, interleave, aggregates};
	for (int i = jni ? 2 : 1; i < argc; i++)
		args.push_back(argv[i]);
	int count = static_cast<int>(args.size());
	benchmark::Initialize(&count, args.data());

	set_up_scratch();
	double peak_ratio = 0;
	/* Fixed counts: each repetition sets up once (the 1 GiB heap above all)
	 * and the run stays within a couple of minutes. */
	auto timed = [](const char *name, void (*function)(benchmark::State &), int iterations) {
		benchmark::RegisterBenchmark(name, function)
			->Unit(benchmark::kMicrosecond)
			->Iterations(iterations);
	};
	auto forking_calls = reinterpret_cast<long (*)()>(dlsym(RTLD_DEFAULT, "forking_calls"));
	timed("getOSUUID", call_probe, 60);
	/* Each repetition writes 8 GiB, and a forking start from there takes
	 * about half a second. */
	auto large = [](const char *name, void (*function)(benchmark::State &), int iterations) {
		benchmark::RegisterBenchmark(name, function)
			->Unit(benchmark::kMicrosecond)
			->Iterations(iterations)
			->Repetitions(7);
	};
	if (!jni)
		large("getOSUUID_8GiB_heap", in_8GiB_process<call_probe>, 30);
	if (!jni && !forking_calls)
		large("fork_start_8GiB_heap", in_8GiB_process<fork_start>, 5);
	long forks_before = forking_calls ? forking_calls() : 0;
	if (forking_calls) {
		printf("Under the forking C library: the call from a small and a large process.\n");
	} else if (jni) {
		if (!start_jvm()) {
			fprintf(stderr, "probe_bench: cannot start a JVM from %s\n", LIBJVM);
			return 1;
		}
		timed("jni_getOSUUID", jni_call, 60);
	} else {
		peak_ratio = huge_answer_peak_ratio();
		timed("popen_floor", popen_floor, 60);
		timed("getOSUUID_no_value", without_value<call_probe_for_null, true>, 60);
		timed("popen_floor_no_value", without_value<popen_chain_floor, true>, 60);
		timed("getOSUUID_no_tool", without_value<call_probe_for_null, false>, 60);
		timed("popen_floor_no_tool", without_value<popen_chain_floor, false>, 60);
		timed("getOSUUID_1GiB_heap", probe_in_large_process, 60);
		timed("start_hal_get_property", start_tool, 100);
		timed("start_bin_true", start_true, 100);
		timed("huge_answer_64MiB", huge_answer, 1);
		timed("huge_answer_fixed_buffer", huge_fixed_buffer, 1);
	}

	MedianReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	if (!jni)
		print_figures(reporter.medians, large_process_figures);
	if (forking_calls) {
		printf("%-58s %7ld\n", "the library's forking starts (popen, system, posix_spawn)",
		       forking_calls() - forks_before);
	} else if (jni) {
		print_figures(reporter.medians, jni_figures);
	} else {
		print_figures(reporter.medians, probe_figures);
		print_figure("64 MiB answer: peak memory / answer size", peak_ratio, 2.1);
	}
	std::system(("rm -rf " + scratch).c_str());
	return 0;
}
