// walkmesh's storage policy: a table too large to size is the internal failure
// "capacity overflow", and memory running out ends the process.
#include "boundary/memory.hpp"

namespace walkmesh {

void storage_too_large(SourceLocation where) { panic_capacity_overflow(where); }

void storage_unavailable(std::size_t bytes) { allocation_failed(bytes); }

}  // namespace walkmesh
