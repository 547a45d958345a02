#include "shell/inventory_run.h"

namespace kelvra {

// The native build stands in for 64-bit Windows, so that portable tests of
// the run see both registry views of the in-memory registry.
bool IsRunningOnWow64() { return true; }

}  // namespace kelvra
