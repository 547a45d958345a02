#pragma once
// Windows paths taken apart and put together: a path's folder part, its
// file-name part and the file name's extension, the trailing backslash of a
// folder, and the running program's own path. Every rule of the program for
// where a file name or its extension begins is one of these.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvra {

// Which characters end a path's folder part.
enum class PathSeparators {
    // "\" only: registry key paths, in whose key names ":" and "/" are
    // ordinary characters.
    Backslash,
    // "\" and ":" only: the rule by which the inventory takes apart the
    // folders and commands that uninstall entries name. A "/" in such a text
    // stays part of the name, and the reports show the folder so.
    BackslashOrColon,
    // "\", "/" and ":": every separator the file system takes, for paths the
    // program makes itself or gets from the system.
    Any,
};

// Where the file name begins: just after the last separator, 0 when there
// is none.
std::size_t FileNameStart(std::wstring_view path, PathSeparators separators);

// The text up to and including the last separator; empty when there is none.
std::wstring FolderPart(std::wstring_view path, PathSeparators separators);

// The text after the last separator; the whole text when there is none.
std::wstring FileNamePart(std::wstring_view path, PathSeparators separators);

// Where the file name's extension begins: at the last "." of the file-name
// part; the path's length when the file name has none.
std::size_t ExtensionStart(std::wstring_view path, PathSeparators separators);

// The file name's extension with its "."; empty when the file name has none.
// A view into path.
std::wstring_view ExtensionPart(std::wstring_view path, PathSeparators separators);

// The path without its file name's extension. A view into path.
std::wstring_view WithoutExtension(std::wstring_view path, PathSeparators separators);

// The file name without its extension. A view into path.
std::wstring_view FileNameWithoutExtension(std::wstring_view path, PathSeparators separators);

// The text with a backslash at its end, added when it lacks one (an empty
// text becomes a lone backslash).
std::wstring IncludeTrailingBackslash(std::wstring_view path);

// The same for a folder that a user or the system names, which may end in
// "/" instead: that one is kept.
std::wstring IncludeTrailingSeparator(std::wstring_view folder);

// The full path of the running executable as the system reports it, however
// long; empty when the system gives none.
std::wstring OwnExecutablePath();

}  // namespace kelvra
