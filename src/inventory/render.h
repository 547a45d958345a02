#pragma once
// The four renderings of an application record: its chosen version, its
// element of the inventory XML document, its row of the HTML report and its
// line of the payload file. Each appends lines to a list that the caller owns.

#include <string>
#include <string_view>
#include <vector>

namespace kelvra {

class TApp;
using TextLines = std::vector<std::wstring>;

// The text of the only active candidate; empty unless exactly one is active.
std::wstring ChosenVersion(const TApp& app);

// "<app>", the non-empty fields, one <version> line per candidate (removed
// ones included), "</app>" and an empty line.
void AppToXml(const TApp& app, TextLines& xmlLines);

// Exactly one active candidate: the row goes to group B. Otherwise, with
// includeAll or more than one active candidate, to group A; else nowhere.
void AppToHtmlList(const TApp& app, TextLines& groupA, TextLines& groupB, bool includeAll);

// The seven kinds of lines of the record's table row.
void AppToHtmlRow(const TApp& app, TextLines& rows);

// The six labelled facts of the record for its first table cell.
std::wstring AppInfoHtml(const TApp& app);

// niceName, TAB, the chosen version; a control character in either (a TAB
// or line break from the registry) is written as a blank.
void AppPayloadLine(const TApp& app, TextLines& payloadLines);

// Trims, then writes & < > ' " as entities and every character outside
// 32..127 as "&#<code>;", so the result is plain ASCII. A UTF-16 pair gets
// one reference; a character that XML cannot carry (a control character
// other than TAB, LF, CR; a lone surrogate; U+FFFE, U+FFFF) is written as
// "&#65533;", so the document stays well formed.
std::wstring XmlEscape(std::wstring_view text);

// For texts placed into the HTML report: & < > " as entities, nothing
// trimmed. Registry texts would otherwise reach the reader's browser as
// markup; texts without those characters come out unchanged.
std::wstring HtmlEscape(std::wstring_view text);

}  // namespace kelvra
