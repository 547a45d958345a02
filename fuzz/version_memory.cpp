// The file of remembered version reads as a run finds it in the data folder,
// whatever stands there. Input: the file's bytes. Reading it gives a memory
// or the reason why not, never both; a memory it gives takes a new file,
// writes what it kept and reads back as a memory of just those.

#include "versions/version_memory.h"

#include <string>

#include "fuzz_support.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

constexpr char kReader[] = "2.0.0.0 rules 1";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DecodedVersionMemory decoded = DecodeVersionMemory(bytes, kReader);
    Require(decoded.memory.has_value() == decoded.whyNot.empty(),
            "a memory and a reason, or neither", decoded.whyNot);
    if (!decoded.memory) return 0;

    VersionMemory& memory = *decoded.memory;
    Require(memory.kept() == 0, "a file read is kept before it was examined");
    FileVersionResult read;
    read.ok = true;
    read.fixedVersion = L"1.2.3.4";
    const std::wstring added = L"C:\\fuzz\\added.exe";
    memory.Remember(added, {1, 2, 3}, read);
    DecodedVersionMemory again =
        DecodeVersionMemory(memory.Encode(kReader, decoded.fullReadAt), kReader);
    Require(again.memory.has_value(), "a memory that does not read back", again.whyNot);
    Require(again.memory->entries() == memory.kept(), "the file holds more or less than kept");
    Require(again.fullReadAt == decoded.fullReadAt, "the time of the full read changed");
    const std::optional<FileVersionResult> recalled = again.memory->Recall(added, {1, 2, 3});
    Require(recalled && recalled->fixedVersion == read.fixedVersion, "a remembered read is lost");
    return 0;
}
