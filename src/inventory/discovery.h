#pragma once
// The helpers of executable discovery (TApp::FindExecutables): folder
// listings, list clean-up and folder comparison. Paths are taken apart by
// common/paths.h, with backslash and colon as separators.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/files.h"

namespace kelvra {

// Clears the list, then adds every file that the system's wildcard search
// finds for the mask (hidden and system files included; folders never): with
// nonEmptyOnly only files of non-zero size, with a non-empty extension only
// files whose extension (from the last full stop of the name, the stop
// included) equals it with A to Z folded. Each entry is the mask's folder
// part + the name when fullPaths is set, the bare name otherwise. The list
// ends sorted case-insensitively by the user's locale. Returns its size.
// With facts, they are cleared and then given what the listing told of
// each file of the list, by its entry, so that a file remembered from an
// earlier run need not be opened to be known again. With reached, it says
// whether the folder's volume answered in time (false: the list is empty).
int ListFiles(std::wstring_view mask, bool fullPaths, std::vector<std::wstring>& list,
              bool nonEmptyOnly, std::wstring_view extension,
              std::unordered_map<std::wstring, FileFacts>* facts = nullptr,
              bool* reached = nullptr);

// Removes the empty texts and keeps the order of the others.
void RemoveEmptyEntries(std::vector<std::wstring>& list);

// Whether two folder paths are the same once each has a trailing backslash
// and A to Z are folded to lower case.
bool SameFolder(std::wstring_view a, std::wstring_view b);

}  // namespace kelvra
