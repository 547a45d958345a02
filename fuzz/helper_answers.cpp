// What the helper process sends back, whatever it is: a helper whose
// memory the system's reader damaged may send anything. Input: an answer's
// bytes. Read as a block or as a listing it gives nothing or something
// within the limits, and a listing it gives reads back as itself once written.

#include <string>

#include "fuzz_support.h"
#include "versions/file_helper.h"
#include "versions/versionblock.h"

using namespace kelvra;
using namespace kelvra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    if (const auto block = helper_answers::BlockOf(answer)) {
        Require(block->bytes.size() <= kMaxVersionBufferSize, "a block over the limit");
        Require(block->present || block->bytes.empty(), "bytes of a block that is not there");
    }
    if (const auto listing = helper_answers::ListingOf(answer)) {
        std::size_t units = 0;
        for (const DirEntry& entry : *listing) units += entry.name.size();
        Require(units <= size / 2, "more text than arrived");
        const auto again = helper_answers::ListingOf(helper_answers::OfListing(*listing));
        Require(again && again->size() == listing->size(), "the listing reads back otherwise");
        for (std::size_t i = 0; i < listing->size(); ++i)
            Require((*again)[i].name == (*listing)[i].name &&
                        (*again)[i].facts() == (*listing)[i].facts() &&
                        (*again)[i].isDirectory == (*listing)[i].isDirectory,
                    "an entry reads back otherwise");
    }
    return 0;
}
