#include "common/win32.h"

#include "support/guarded_buffers_win32.h"

#include <algorithm>
#include <vector>

namespace kelvra::testing {
namespace {

// Past the largest buffer's end the system could reach: its copies of the
// texts of a block end by three times the block's 64 KiB.
constexpr std::size_t kGuardBytes = std::size_t{1} << 20;

struct Region {
    std::uintptr_t end;    // the buffer's end, where the guard begins
    std::uintptr_t limit;  // the guard's end
};

struct State {
    std::vector<Region> regions;
    std::size_t allocations = 0;
    std::size_t largest = 0;
    std::size_t overrun = 0;
    bool wrote = false;
    void* handler = nullptr;
};

State& Watched() {
    static State state;
    return state;
}

LONG CALLBACK CatchGuardTouch(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const std::uintptr_t address = record.ExceptionInformation[1];
    for (const Region& region : Watched().regions) {
        if (address < region.end || address >= region.limit) continue;
        State& state = Watched();
        state.overrun = std::max<std::size_t>(state.overrun, address - region.end + 1);
        state.wrote = state.wrote || record.ExceptionInformation[0] == 1;
        // Let the call finish: the page becomes memory, and its next bytes
        // are seen only as far as this page reaches.
        if (!VirtualAlloc(reinterpret_cast<void*>(address & ~std::uintptr_t{0xFFF}), 0x1000,
                          MEM_COMMIT, PAGE_READWRITE))
            return EXCEPTION_CONTINUE_SEARCH;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class GuardedMemory : public VersionBufferMemory {
  public:
    explicit GuardedMemory(std::size_t size) {
        const std::size_t pages = (size + 0xFFF) & ~std::size_t{0xFFF};
        base_ = static_cast<std::byte*>(
            VirtualAlloc(nullptr, pages + kGuardBytes, MEM_RESERVE, PAGE_NOACCESS));
        if (base_ && pages) VirtualAlloc(base_, pages, MEM_COMMIT, PAGE_READWRITE);
        if (!base_) return;
        bytes_ = std::span<std::byte>(base_ + pages - size, size);
        const auto end = reinterpret_cast<std::uintptr_t>(base_ + pages);
        Watched().regions.push_back({end, end + kGuardBytes});
    }
    ~GuardedMemory() override {
        if (!base_) return;
        auto& regions = Watched().regions;
        const auto end = reinterpret_cast<std::uintptr_t>(bytes_.data() + bytes_.size());
        regions.erase(std::remove_if(regions.begin(), regions.end(),
                                     [&](const Region& region) { return region.end == end; }),
                      regions.end());
        VirtualFree(base_, 0, MEM_RELEASE);
    }
    std::span<std::byte> Bytes() override { return bytes_; }

  private:
    std::byte* base_ = nullptr;
    std::span<std::byte> bytes_;
};

}  // namespace

GuardedVersionBuffers::GuardedVersionBuffers() {
    State& state = Watched();
    state = State{};
    state.handler = AddVectoredExceptionHandler(1, CatchGuardTouch);
    installed_.emplace([this](std::size_t size) { return Allocate(size); });
}

GuardedVersionBuffers::~GuardedVersionBuffers() {
    installed_.reset();
    if (Watched().handler) RemoveVectoredExceptionHandler(Watched().handler);
    Watched().handler = nullptr;
}

std::unique_ptr<VersionBufferMemory> GuardedVersionBuffers::Allocate(std::size_t size) {
    State& state = Watched();
    ++state.allocations;
    state.largest = std::max(state.largest, size);
    return std::make_unique<GuardedMemory>(size);
}

std::size_t GuardedVersionBuffers::allocations() const { return Watched().allocations; }
std::size_t GuardedVersionBuffers::largest() const { return Watched().largest; }
std::size_t GuardedVersionBuffers::overrun() const { return Watched().overrun; }

std::string GuardedVersionBuffers::Describe() const {
    const State& state = Watched();
    if (state.overrun == 0) return "nothing touched past a buffer";
    return std::string(state.wrote ? "written" : "read") + " up to " +
           std::to_string(state.overrun) + " bytes past a buffer";
}

}  // namespace kelvra::testing
