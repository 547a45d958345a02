// CompareVersions on two random texts (fields 0 and 1), both ways round.

#include <string>

#include "fuzz_support.h"
#include "versions/vertools.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

std::wstring_view FirstComponent(std::wstring_view text) { return text.substr(0, text.find(L'.')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size);
    const std::wstring a = WideFromBytes(fields[0]);
    const std::wstring b = fields.size() > 1 ? WideFromBytes(fields[1]) : std::wstring();

    const TVersionComparison ab = CompareVersions(a, b);
    const TVersionComparison ba = CompareVersions(b, a);
    const bool sameMajor = FirstComponent(a) == FirstComponent(b);

    Require(static_cast<unsigned>(ab.relation) <= 2, "relation outside the enumeration");
    Require((ab.relation == TVersionRelation::vtVerschillendeMajor) == !sameMajor,
            "different first components are not reported as such, or the other way round");
    Require(ab.major == (sameMajor ? std::wstring(FirstComponent(a)) : std::wstring()),
            "Major is not the shared first component");
    Require(ba.major == ab.major, "Major depends on the order of the texts");
    // Swapping two different texts swaps their remainders, so a winner one
    // way round is the loser the other way. (Two equal texts both keep their
    // last character as the remainder, and each beats the other.)
    if (a == b) return 0;
    Require(!(ab.relation == TVersionRelation::vtTweedeIsMajorVanEerste &&
              ba.relation == TVersionRelation::vtTweedeIsMajorVanEerste),
            "each text beats the other");
    if (ab.relation == TVersionRelation::vtTweedeIsMajorVanEerste)
        Require(ba.relation == TVersionRelation::vtEersteVersieIsMajorVanTweede,
                "the winner loses when swapped");
    return 0;
}
