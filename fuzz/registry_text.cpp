// Registry text values as raw bytes: whatever a writer stored, the text the
// program reads is the UTF-16 code units up to the first NUL, no more and no
// less. Input: the value's bytes.

#include "common/registry_text.h"

#include <string>

#include "fuzz_support.h"

using namespace kelvra;
using namespace kelvra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring text = DecodeRegistryText(bytes);
    Require(text.find(L'\0') == std::wstring::npos, "a NUL inside the text");

    // Encoding the text again gives back exactly the units before the first
    // NUL unit (an odd last byte is half a unit and not part of the text).
    std::size_t units = 0;
    while (units < size / 2 && (bytes[2 * units] != 0 || bytes[2 * units + 1] != 0)) ++units;
    const std::string expected = std::string(bytes.substr(0, 2 * units)) + std::string(2, '\0');
    Require(EncodeRegistryText(text) == expected,
            "the text does not encode back to the stored units");
    return 0;
}
