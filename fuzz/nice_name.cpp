// IsVersionWord on a random word and MakeNiceName on a random display name
// (field 0), as the registry would hand it over.

#include <string>

#include "common/textutil.h"
#include "fuzz_support.h"
#include "inventory/kv_objs.h"
#include "versions/versiontext.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

std::wstring UpperAscii(std::wstring_view text) {
    std::wstring upper(text);
    for (wchar_t& ch : upper)
        if (ch >= L'a' && ch <= L'z') ch = static_cast<wchar_t>(ch - (L'a' - L'A'));
    return upper;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size);
    const std::wstring text = WideFromBytes(fields[0]);

    // Letter case of A to Z never decides whether a word is a version.
    const bool isVersion = IsVersionWord(text);
    Require(IsVersionWord(LowerAscii(text)) == isVersion &&
                IsVersionWord(UpperAscii(text)) == isVersion,
            "IsVersionWord depends on letter case", Utf8ForMessage(text));

    TApp app(std::wstring(kUninstallKey) + L"\\App", L"App");
    app.regDisplayName = text;
    const std::string displayBytes = app.regDisplayName.bytes();
    app.MakeNiceName();

    const TVersions& versions = app.Versions;
    Require(versions.Count() <= 1, "MakeNiceName added more than one candidate");
    if (versions.Count() == 1) {
        Require(versions.GetVersionType(0) == TVersionType::EntryName,
                "the candidate is not an entryName one");
        Require(versions.GetVersion(0).Fetch == app.regDisplayName,
                "the candidate's place is not the display name");
    }
    // The name only ever loses text: the version it carried, or the words
    // after it.
    Require(app.niceName.bytes().size() <= displayBytes.size(),
            "niceName is longer than the display name");
    Require(app.regDisplayName.bytes() == displayBytes, "MakeNiceName changed the display name");
    return 0;
}
