/* Blocks from malloc, freed on every path. */
#ifndef HEAP_STRING_H
#define HEAP_STRING_H

#include <cstdlib>
#include <memory>

struct free_deleter {
	void operator()(void *block) const { free(block); }
};
template <typename T> using heap_block = std::unique_ptr<T, free_deleter>;
using heap_string = heap_block<char>;

#endif
