/* The probe against a fake hal-get-property: what it returns, and which
 * commands it ran in which order. */
#include "fake_hal.h"
#include "library.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;
using fake_hal::arguments;

struct Chain {
	const char *name;
	char *(*probe)();
	const char *first_key;
	const char *second_key;
};

const Chain chains[] = {
	{"uuid", library::getOSUUID, fake_hal::uuid_key, fake_hal::smbios_uuid_key},
	{"serial", library::getOSSerial, fake_hal::serial_key, fake_hal::smbios_serial_key},
};

struct Case {
	const char *name;
	std::optional<std::string> first;  // what the first command prints
	std::optional<std::string> second; // what the second command prints
	std::optional<std::string> expected;
	bool second_runs;
};

const std::string chunk_of_128 = std::string(127, 'a') + "Z";
const std::string text_of_300 = std::string(150, 'x') + "-" + std::string(149, 'y');

const Case cases[] = {
	{"value_from_first", "0123-ABCD\n", "WRONG\n", "0123-ABCD", false},
	{"second_when_first_silent", std::nullopt, "  XYZ  \n", "XYZ", true},
	{"second_when_first_file_empty", ""s, "XYZ\n", "XYZ", true},
	{"line_feed_only_is_empty_value", "\n", "WRONG\n", ""s, false},
	{"white_space_only_is_empty_value", " \t\r\v\f\n", "WRONG\n", ""s, false},
	{"neither_answers", std::nullopt, std::nullopt, std::nullopt, true},
	{"neither_writes_a_byte", ""s, ""s, std::nullopt, true},
	{"three_chunks_whole", text_of_300 + "\n", std::nullopt, text_of_300, false},
	{"exactly_one_chunk", chunk_of_128, std::nullopt, chunk_of_128, false},
	{"one_chunk_and_a_byte", chunk_of_128 + "!", std::nullopt, chunk_of_128 + "!", false},
	{"inner_space_kept", "\t A B \n", std::nullopt, "A B", false},
	// An answer holding a NUL byte is no answer: the second key is asked.
	{"nul_byte_is_no_answer", "AB\0CD\n"s, "NEXT\n", "NEXT", true},
	{"space_before_nul_is_no_answer", "  \0XYZ"s, std::nullopt, std::nullopt, true},
	{"nul_first_is_no_answer", "\0GARBAGE"s, "NEXT\n", "NEXT", true},
	{"nul_after_chunk_boundary", chunk_of_128 + "Q\0tail"s, "NEXT\n", "NEXT", true},
	{"nul_bytes_in_both", "A\0"s, "\0B"s, std::nullopt, true},
	{"high_bytes_unchanged", "\xc3\xa9t\xc3\xa9\xff\n", std::nullopt, "\xc3\xa9t\xc3\xa9\xff",
	 false},
};

void PrintTo(const Chain &chain, std::ostream *out)
{
	*out << chain.name;
}

void PrintTo(const Case &c, std::ostream *out)
{
	*out << c.name;
}

using library::call;

class ChainTest : public testing::TestWithParam<std::tuple<Chain, Case>> {
      protected:
	fake_hal::Scope hal;
};

TEST_P(ChainTest, AnswersAndRunsInOrder)
{
	const auto &[chain, c] = GetParam();
	if (c.first)
		hal.answer(chain.first_key, *c.first);
	if (c.second)
		hal.answer(chain.second_key, *c.second);

	EXPECT_EQ(call(chain.probe), c.expected);

	std::vector<std::string> ran = {arguments(chain.first_key)};
	if (c.second_runs)
		ran.push_back(arguments(chain.second_key));
	EXPECT_EQ(hal.log(), ran);
}

INSTANTIATE_TEST_SUITE_P(Probe, ChainTest,
			 testing::Combine(testing::ValuesIn(chains), testing::ValuesIn(cases)),
			 [](const auto &info) {
				 return std::string(std::get<0>(info.param).name) + "_" +
					std::get<1>(info.param).name;
			 });

class ChainOnlyTest : public testing::TestWithParam<Chain> {
      protected:
	fake_hal::Scope hal;
};

TEST_P(ChainOnlyTest, ExitStatusIgnored)
{
	const Chain &chain = GetParam();
	hal.answer(chain.first_key, "VALUE\n");
	hal.exit_status(chain.first_key, 3);
	hal.answer(chain.second_key, "WRONG\n");
	EXPECT_EQ(call(chain.probe), "VALUE");
	EXPECT_EQ(hal.log().size(), 1u);
}

TEST_P(ChainOnlyTest, NullWithoutTool)
{
	const Chain &chain = GetParam();
	hal.answer(chain.first_key, "VALUE\n");
	hal.hide_tool();
	EXPECT_EQ(call(chain.probe), std::nullopt);
	EXPECT_TRUE(hal.log().empty());
}

TEST_P(ChainOnlyTest, FreshAnswerOnEveryCall)
{
	const Chain &chain = GetParam();
	hal.answer(chain.first_key, "ONE\n");
	EXPECT_EQ(call(chain.probe), "ONE");
	hal.answer(chain.first_key, "TWO\n");
	EXPECT_EQ(call(chain.probe), "TWO");
}

/* A host with a signal handler installed without SA_RESTART, firing every
 * millisecond while the tool takes 50 ms to answer and runs on for 20 ms
 * after closing its output: every wait for its output (poll) and for its end
 * (waitpid) is interrupted, and no call may leave its child unreaped. */
volatile sig_atomic_t alarms;

void count_alarm(int)
{
	alarms = alarms + 1;
}

TEST_P(ChainOnlyTest, InterruptedWaitsKeepTheValue)
{
	const Chain &chain = GetParam();
	hal.answer(chain.first_key, "SLOW-VALUE\n");
	hal.delay(chain.first_key, "0.05");
	hal.linger(chain.first_key, "0.02");
	hal.answer(chain.second_key, "WRONG\n");

	struct sigaction action = {}, saved;
	action.sa_handler = count_alarm;
	sigemptyset(&action.sa_mask);
	action.sa_flags = 0;
	ASSERT_EQ(sigaction(SIGALRM, &action, &saved), 0);
	const itimerval every_ms = {{0, 1000}, {0, 1000}}, off = {};
	alarms = 0;
	setitimer(ITIMER_REAL, &every_ms, nullptr);

	std::vector<std::optional<std::string>> values;
	for (int i = 0; i < 10; i++)
		values.push_back(call(chain.probe));

	setitimer(ITIMER_REAL, &off, nullptr);
	signal(SIGALRM, SIG_IGN); // drops an alarm still pending
	sigaction(SIGALRM, &saved, nullptr);
	EXPECT_GT(alarms, 100);
	EXPECT_EQ(values, std::vector<std::optional<std::string>>(10, "SLOW-VALUE"));
	usleep(100 * 1000); // a child left running has ended by now
	errno = 0;
	EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left unreaped";
	EXPECT_EQ(errno, ECHILD);
}

/* The tool is looked for in PATH's absolute folders alone, never in the
 * working directory, where anyone may have left a hal-get-property: an
 * empty element means that folder, a relative one lies under it, and bash
 * without PATH searches a list that ends in ".". */
TEST_P(ChainOnlyTest, NeverRunFromTheWorkingDirectory)
{
	const Chain &chain = GetParam();
	hal.answer(chain.first_key, "REAL\n");
	const std::string path = getenv("PATH"), tool_dir = path.substr(0, path.find(':'));
	const std::string planted = "#!/bin/sh\necho PLANTED\n", cwd = hal.dir() + "/cwd";
	ASSERT_EQ(mkdir(cwd.c_str(), 0755) | mkdir((cwd + "/rel").c_str(), 0755), 0);
	for (const char *where : {"/hal-get-property", "/rel/hal-get-property"}) {
		std::ofstream(cwd + where) << planted;
		chmod((cwd + where).c_str(), 0755);
	}
	char saved_cwd[4096];
	ASSERT_TRUE(getcwd(saved_cwd, sizeof saved_cwd));
	ASSERT_EQ(chdir(cwd.c_str()), 0);
	/* What goes before the tool's folder in PATH; an empty PATH and no PATH
	 * have no folder at all. */
	const std::optional<std::string> rows[] = {
		"", std::nullopt, ":", "/nonexistent::", ".:", "rel:"};
	for (const auto &before : rows) {
		bool with_tool = before && !before->empty();
		const std::string row = before ? *before + (with_tool ? tool_dir : "") : "";
		SCOPED_TRACE(before ? "PATH=" + row : "no PATH");
		if (before)
			setenv("PATH", row.c_str(), 1);
		else
			unsetenv("PATH");
		std::optional<std::string> value = call(chain.probe);
		EXPECT_NE(value, "PLANTED");
		if (with_tool) {
			EXPECT_EQ(value, "REAL");
		}
	}
	setenv("PATH", path.c_str(), 1);
	EXPECT_EQ(chdir(saved_cwd), 0);
}

INSTANTIATE_TEST_SUITE_P(Probe, ChainOnlyTest, testing::ValuesIn(chains),
			 [](const auto &info) { return std::string(info.param.name); });

/* The JNI bridge, called with an environment of the test's own, whose
 * functions keep the string that the bridge made. In the sanitizer build
 * and under memcheck, a conversion that writes past its block fails here. */
std::u16string made;

jstring keep_utf(JNIEnv *, const char *bytes)
{
	made.assign(bytes, bytes + strlen(bytes)); // ASCII: each byte a unit
	return reinterpret_cast<jstring>(&made);
}

jstring keep_units(JNIEnv *, const jchar *units, jsize count)
{
	made.assign(units, units + count);
	return reinterpret_cast<jstring>(&made);
}

TEST(Bridge, JavaStringOfEveryKindOfAnswer)
{
	fake_hal::Scope hal;
	JNINativeInterface_ functions = {};
	functions.NewStringUTF = keep_utf;
	functions.NewString = keep_units;
	JNIEnv env = {&functions};
	using entry = jstring (*)(JNIEnv *, jclass);
	auto uuid = reinterpret_cast<entry>(
		library::entry_point("Java_org_korvane_mardel_OperatingSystem_getOSUUID"));
	const struct {
		const char *name;
		std::string printed;
		std::u16string expected;
	} cases[] = {
		{"ASCII", " 0123-ABCD \n", u"0123-ABCD"},
		{"F5 to FF, a unit each", "\xf5\xf8\xfe\xff", u"\u00f5\u00f8\u00fe\u00ff"},
		{"two- and three-byte forms", "Z\xc3\xbcrich-\xe6\x97\xa5", u"Z\u00fcrich-\u65e5"},
		{"four bytes, two units", "A\xf0\x9f\x98\x80Z", u"A\U0001F600Z"},
		{"sequence cut at the end", "end\xe2\x82", u"end\u00e2\u0082"},
		{"C0 80",
		 "A\xc0\x80"
		 "B",
		 u"A"s + u'\0' + u"B"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		hal.answer(fake_hal::uuid_key, c.printed);
		made.clear();
		EXPECT_EQ(uuid(&env, nullptr), reinterpret_cast<jstring>(&made));
		EXPECT_TRUE(made == c.expected);
	}
	hal.answer(fake_hal::uuid_key, "");
	EXPECT_EQ(uuid(&env, nullptr), nullptr);
}

} // namespace
