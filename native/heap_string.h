/* A string in a block from malloc, freed on every path. */
#ifndef HEAP_STRING_H
#define HEAP_STRING_H

#include <cstdlib>
#include <memory>

struct free_deleter {
	void operator()(char *block) const { free(block); }
};
using heap_string = std::unique_ptr<char, free_deleter>;

#endif
