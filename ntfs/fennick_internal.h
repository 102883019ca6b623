// Hooks of the library for its own tests and fuzz target, which compile the
// sources directly: a buffer of records can be registered as a block, so that
// the record calls accept it. Not exported.
#pragma once

#include <stdint.h>

namespace fennick_internal {

// Registers a caller's buffer of records of recordSize bytes.
bool registerBlock(void *base, uint64_t size, uint32_t recordSize);
// Forgets a buffer registered with registerBlock (blocks of MapMFT stay).
void unregisterBlock(void *base);

} // namespace fennick_internal
