#pragma once
// Version buffers that end where a region of no-access memory begins, so that
// a test sees every byte the system reads or writes past the buffer it was
// given. The first touch of the guard is caught, the page is made accessible
// so that the system's call can finish, and the touch is recorded: the test
// then fails with a message instead of a crashed process.

#include <cstddef>
#include <optional>
#include <string>

#include "common/scope.h"
#include "versions/versionblock.h"

namespace kelvra::testing {

class GuardedVersionBuffers {
  public:
    // Installs the guarded allocator of version buffers until destroyed.
    GuardedVersionBuffers();
    ~GuardedVersionBuffers();
    GuardedVersionBuffers(const GuardedVersionBuffers&) = delete;
    GuardedVersionBuffers& operator=(const GuardedVersionBuffers&) = delete;

    // Buffers given out, and the largest size asked for.
    std::size_t allocations() const;
    std::size_t largest() const;
    // The furthest byte past its buffer's end that anything read or wrote
    // (1: the first byte after it), 0 when nothing did; and a description.
    std::size_t overrun() const;
    std::string Describe() const;

    // A buffer of the allocator's kind for a test's own use: the system's
    // calls on it are watched the same way.
    std::unique_ptr<VersionBufferMemory> Allocate(std::size_t size);

  private:
    std::optional<ScopedHook<&SetVersionBufferAllocator>> installed_;
};

}  // namespace kelvra::testing
