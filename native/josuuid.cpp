/* Hardware identity from HAL: runs hal-get-property and keeps what it prints. */
#include "josuuid.h"

#include "command.h"
#include "heap_string.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>

namespace {

constexpr size_t chunk_size = 128;

/* Each value has two property keys; the second is asked only when the first
 * gives no output at all. */
using query_chain = const char *const[2];

query_chain uuid_chain = {
	"hal-get-property --udi /org/freedesktop/Hal/devices/computer --key system.hardware.uuid",
	"hal-get-property --udi /org/freedesktop/Hal/devices/computer --key smbios.system.uuid",
};

query_chain serial_chain = {
	"hal-get-property --udi /org/freedesktop/Hal/devices/computer --key system.hardware.serial",
	"hal-get-property --udi /org/freedesktop/Hal/devices/computer --key smbios.system.serial",
};

/* Appends n bytes, NUL bytes included, and keeps the accumulation
 * NUL-terminated. On failure the accumulation is left as it was. */
bool append(heap_string &accumulated, size_t &length, const char *chunk, size_t n)
{
	auto *grown = static_cast<char *>(realloc(accumulated.get(), length + n + 1));
	if (!grown)
		return false;
	(void)accumulated.release();
	accumulated.reset(grown);
	/* memmove, not memcpy: on x86-64 memcpy binds to GLIBC_2.14, and the
	 * library has to load on glibc 2.3. */
	memmove(grown + length, chunk, n);
	length += n;
	grown[length] = '\0';
	return true;
}

/* Everything the command wrote to its standard output, whatever its exit
 * status; null when it wrote nothing, when the output could not be kept, and
 * when it holds a NUL byte: that is no text, and cut at the NUL it could pass
 * for the empty value, which means that HAL answered with white space. */
heap_string capture(const char *command, unsigned &start_wait_left_ms)
{
	command_output output;
	if (!start_command(command, output, start_wait_left_ms))
		return nullptr;

	heap_string accumulated;
	size_t length = 0;
	char chunk[chunk_size];
	size_t n;
	while ((n = read_output(output, chunk, chunk_size)) > 0)
		if (!append(accumulated, length, chunk, n))
			return nullptr;
	if (accumulated && memchr(accumulated.get(), '\0', length))
		return nullptr;
	return accumulated;
}

bool is_space(char c)
{
	return isspace(static_cast<unsigned char>(c));
}

/* Replaces *text by a new heap copy without leading and trailing white space,
 * or by null when no copy can be made. */
void trim(char **text)
{
	if (!text || !*text)
		return;
	heap_string old(*text);
	const char *s = old.get();
	size_t length = strlen(s);

	size_t first = 0;
	while (first < length && is_space(s[first]))
		first++;
	if (first == length) {
		*text = strdup("");
		return;
	}

	size_t last = length - 1;
	while (is_space(s[last]))
		last--;
	size_t kept = last - first + 1;
	auto *copy = static_cast<char *>(malloc(kept + 1));
	if (copy) {
		memmove(copy, s + first, kept);
		copy[kept] = '\0';
	}
	*text = copy;
}

/* A call holds a pipe and a child until it ends; cancelled inside it (in
 * poll or waitpid), a thread would leave both behind. Cancellation waits
 * for the end of the call, as it would had the call no cancellation point. */
struct cancellation_held {
	int state;
	cancellation_held() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state); }
	~cancellation_held() { pthread_setcancelstate(state, nullptr); }
	cancellation_held(const cancellation_held &) = delete;
	cancellation_held &operator=(const cancellation_held &) = delete;
};

char *identity(query_chain &chain)
{
	cancellation_held held;
	unsigned start_wait_left_ms = start_wait_ms;
	for (const char *command : chain) {
		heap_string output = capture(command, start_wait_left_ms);
		if (!output)
			continue;
		char *value = output.release();
		trim(&value);
		return value;
	}
	return nullptr;
}

} // namespace

char *getOSUUID()
{
	return identity(uuid_chain);
}

char *getOSSerial()
{
	return identity(serial_chain);
}
