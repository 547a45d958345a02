// The native build has no system registry: the machine's registry is the
// process's MemoryRegistry, which tests fill as they need.

#include "common/registry.h"

namespace kelvra {

std::unique_ptr<RegistryAccessor> CreateRegistryAccessor(RegistryRoot root, RegistryView view) {
    return MemoryRegistry::Machine().CreateAccessor(root, view);
}

}  // namespace kelvra
