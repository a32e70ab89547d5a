// The core tests' fault hook: the fault itself is thrown, for the test to inspect.
#include "core/fault.hpp"

namespace walkmesh {

void raise_fault(const Fault& fault) { throw fault; }

}  // namespace walkmesh
