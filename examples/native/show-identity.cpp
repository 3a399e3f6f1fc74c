/* Prints this computer's hardware UUID and serial number. */
#include <josuuid.h>

#include <cstdio>
#include <cstdlib>

static void show(const char *what, char *value)
{
	if (value)
		printf("%s: %s\n", what, value);
	else
		printf("no %s is available\n", what);
	free(value); // the caller owns the value; free(NULL) does nothing
}

int main()
{
	show("hardware UUID", getOSUUID());
	show("serial number", getOSSerial());
	return 0;
}
