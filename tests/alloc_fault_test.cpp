/* The probe linked with an allocator that fails on demand (--wrap): a failed
 * allocation gives null or the next command's value, never a cut value, a
 * crash or a leak. Only the probe's own calls go through the wrappers. */
#include "fake_hal.h"
#include "josuuid.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>

namespace {

/* -1: never fail. Otherwise the number of allocations that still succeed
 * before one fails. */
long allocations_left = -1;
bool fail_once; // after the failure, allocations succeed again
bool failure_hit;
long live_blocks; // blocks the probe allocated and nobody freed yet

bool should_fail()
{
	if (allocations_left < 0)
		return false;
	if (allocations_left-- > 0)
		return false;
	failure_hit = true;
	allocations_left = fail_once ? -1 : 0;
	return true;
}

} // namespace

extern "C" {
void *__real_malloc(size_t size);
void *__real_realloc(void *block, size_t size);
char *__real_strdup(const char *s);
void __real_free(void *block);

void *__wrap_malloc(size_t size)
{
	if (should_fail())
		return nullptr;
	void *block = __real_malloc(size);
	live_blocks += block != nullptr;
	return block;
}

void *__wrap_realloc(void *block, size_t size)
{
	if (should_fail())
		return nullptr;
	void *grown = __real_realloc(block, size);
	live_blocks += grown != nullptr && block == nullptr;
	return grown;
}

char *__wrap_strdup(const char *s)
{
	if (should_fail())
		return nullptr;
	char *copy = __real_strdup(s);
	live_blocks += copy != nullptr;
	return copy;
}

void __wrap_free(void *block)
{
	live_blocks -= block != nullptr;
	__real_free(block);
}
}

namespace {

struct Outcome {
	std::optional<std::string> value;
	bool failure_hit;
	long leaked;
};

Outcome call_failing_at(char *(*probe)(), long allocation, bool once)
{
	long live_before = live_blocks;
	allocations_left = allocation;
	fail_once = once;
	failure_hit = false;
	char *value = probe();
	allocations_left = -1;

	Outcome outcome{std::nullopt, failure_hit, 0};
	if (value)
		outcome.value = value;
	free(value);
	outcome.leaked = live_blocks - live_before;
	return outcome;
}

struct Sweep {
	const char *name;
	char *(*probe)();
	const char *first_key;
	const char *second_key;
	std::string first_answer;
	const char *whole; // the first answer, trimmed
	bool once;
	bool falls_back; // some failure lets the second command answer
};

/* Three chunks: the accumulation grows three times. */
const std::string long_value = std::string(200, 'L') + "-" + std::string(100, 'M');

const Sweep sweeps[] = {
	{"uuid_fail_once", getOSUUID, fake_hal::uuid_key, fake_hal::smbios_uuid_key,
	 " " + long_value + "\n", long_value.c_str(), true, true},
	{"uuid_fail_from_then_on", getOSUUID, fake_hal::uuid_key, fake_hal::smbios_uuid_key,
	 " " + long_value + "\n", long_value.c_str(), false, false},
	{"serial_fail_once", getOSSerial, fake_hal::serial_key, fake_hal::smbios_serial_key,
	 " " + long_value + "\n", long_value.c_str(), true, true},
	{"white_space_only_fail_once", getOSUUID, fake_hal::uuid_key, fake_hal::smbios_uuid_key,
	 " \n", "", true, true},
};

void PrintTo(const Sweep &s, std::ostream *out)
{
	*out << s.name;
}

class AllocationFailure : public testing::TestWithParam<Sweep> {
      protected:
	fake_hal::Scope hal;
};

/* Fails the first, second, ... allocation of a call until a call runs without
 * reaching the failure. Each outcome is a whole value or null. */
TEST_P(AllocationFailure, NeverCutNeverLeaked)
{
	const Sweep &s = GetParam();
	hal.answer(s.first_key, s.first_answer);
	hal.answer(s.second_key, " FALLBACK\n");
	const std::string whole = s.whole;
	const std::set<std::optional<std::string>> allowed = {whole, "FALLBACK", std::nullopt};

	std::set<std::optional<std::string>> seen;
	for (long allocation = 0;; allocation++) {
		SCOPED_TRACE("failing allocation " + std::to_string(allocation));
		Outcome outcome = call_failing_at(s.probe, allocation, s.once);
		EXPECT_EQ(outcome.leaked, 0);
		EXPECT_TRUE(allowed.count(outcome.value)) << outcome.value.value_or("(null)");
		if (!outcome.failure_hit) {
			EXPECT_EQ(outcome.value, whole);
			EXPECT_GT(allocation, 0);
			break;
		}
		seen.insert(outcome.value);
		ASSERT_LT(allocation, 100);
	}
	/* A failure while output is gathered hands over to the next command; one
	 * while the value is trimmed gives null. */
	EXPECT_TRUE(seen.count(std::nullopt));
	EXPECT_EQ(seen.count("FALLBACK"), s.falls_back ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Probe, AllocationFailure, testing::ValuesIn(sweeps),
			 [](const auto &info) { return std::string(info.param.name); });

} // namespace
