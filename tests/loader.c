/* Loads the library as a C program does, with the dynamic linker that this
 * program was linked for (glibc's or musl's), and prints both values, one a
 * line, or "(null)". Usage: loader LIBRARY */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
	const char *symbols[] = {"_Z9getOSUUIDv", "_Z11getOSSerialv"};
	void *library = argc == 2 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : NULL;
	if (!library) {
		fprintf(stderr, "loader: %s\n", argc == 2 ? dlerror() : "usage: loader LIBRARY");
		return 1;
	}
	for (size_t i = 0; i < sizeof symbols / sizeof *symbols; i++) {
		char *(*probe)(void) = (char *(*)(void))dlsym(library, symbols[i]);
		if (!probe) {
			fprintf(stderr, "loader: %s: %s\n", symbols[i], dlerror());
			return 1;
		}
		char *value = probe();
		printf("%s\n", value ? value : "(null)");
		free(value);
	}
	return 0;
}
