// The display name of an application without the version it carries, and the
// completion of a record: executables, display name, pruning.

#include <string>
#include <vector>

#include "common/textutil.h"
#include "common/tools.h"
#include "inventory/kv_objs.h"
#include "versions/versiontext.h"

namespace kelvra {
namespace {

// A display name is looked at as at most this many blank-separated words.
constexpr int kMaxWords = 30;
constexpr wchar_t kBlank = L' ';
constexpr std::wstring_view kVersionWord = L" Version";

}  // namespace

void TApp::MakeNiceName() {
    const std::wstring name = regDisplayName.str();
    if (PosText(L"super", name) > 0) WriteLog(L"a");
    if (PosText(L"far cry (patch", name) > 0) WriteLog(L"b");
    niceName = name;

    // "Foo 2.0 (build 1234)": everything from the first version word on is
    // the version, everything before it the name.
    if (PosText(L"(build ", name) > 0) {
        const std::vector<std::wstring> words = SplitText(name, kBlank, kMaxWords);
        std::wstring version;
        for (std::size_t k = 0; k < words.size(); ++k) {
            if (!IsVersionWord(words[k])) continue;
            for (std::size_t i = k; i < words.size(); ++i) version += words[i] + kBlank;
            niceName = JoinWords(words, static_cast<int>(k), kBlank, true);
            break;
        }
        Versions.AddVersion(version, TVersionType::EntryName, name, 0);
        return;
    }

    // "Foo Version 1.2": the text after the word and the one character that
    // follows it is the version; the name keeps the blank before the word.
    const int at = PosText(kVersionWord, name);
    if (at > 0) {
        const std::size_t tailStart = static_cast<std::size_t>(at) - 1 + kVersionWord.size() + 1;
        const std::wstring tail = tailStart < name.size() ? name.substr(tailStart) : std::wstring();
        if (IsVersionWord(tail)) {
            Versions.AddVersion(tail, TVersionType::EntryName, name, 0);
            niceName = name.substr(0, static_cast<std::size_t>(at));
            return;
        }
    }

    // "Bar 3.1": the last word, with a "(Patch" before it when there is one.
    const std::vector<std::wstring> words = SplitText(name, kBlank, kMaxWords);
    std::wstring version = words.back();
    if (version.empty() || !IsVersionWord(version)) return;
    if (words.size() > 1 && LowerAscii(words[words.size() - 2]) == L"(patch")
        version = words[words.size() - 2] + kBlank + words.back();
    Versions.AddVersion(version, TVersionType::EntryName, name, 0);
    niceName = Trim(ReplaceText(name, version, L"", true));
}

void TApp::Process() {
    // Discovery first, so that the file candidates come before the display
    // name's: the last stage keeps the first candidate still standing.
    FindExecutables();
    MakeNiceName();
    if (PosText(L"putty", regDisplayName.str()) > 0) WriteLog(L"a");
    Versions.RunPruningChain(regDisplayName.str());
}

}  // namespace kelvra
