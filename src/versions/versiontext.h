#pragma once

// Version texts as they reach the program ("V2,1", "Version 5",
// "(Patch 1.4)", "0.0.0.0") turned into the normalised candidate text, and
// the test that tells a version-like word of a display name from the rest.

#include <string>
#include <string_view>

namespace kelvra {

// The normalised version text: trimmed, commas as full stops, ". " closed up,
// the words "release" and "version" cut out (also inside longer words), an
// all-zero version dropped, a lone digit given ".0" and a leading v or V
// dropped. An empty result means the text holds no usable version.
std::wstring CleanVersionText(std::wstring_view text);

// Whether a word of a display name looks like a version, a build tag or a
// date: digits, dots, parentheses, "+", "a", "b" and "v", with "bld", "ver"
// and the month names allowed besides, but not a plain year from 1998 to
// 2020. The empty word passes.
bool IsVersionWord(std::wstring_view text);

}  // namespace kelvra
