#include "inventory/render.h"

#include <cstdint>

#include "common/textutil.h"
#include "common/utf16.h"
#include "inventory/kv_objs.h"

namespace kelvra {
namespace {

void AppendXmlField(TextLines& lines, std::wstring_view tag, const ShortText& field) {
    if (field.empty()) return;
    lines.push_back(L"   <" + std::wstring(tag) + L">" + XmlEscape(field.str()) + L"</" +
                    std::wstring(tag) + L">");
}

std::wstring RowColour(std::size_t activeCount) {
    if (activeCount == 1) return L"white";
    return activeCount == 0 ? L"red" : L"silver";
}

std::wstring CandidateColour(TVersionType type) {
    if (type == TVersionType::Registry) return L"yellow";
    if (type == TVersionType::EntryName) return L"orange";
    return L"white";
}

// The small print under every candidate: where it came from and its points.
std::wstring CandidateSource(const TVersions& versions, std::size_t i) {
    return L"<small>" + std::wstring(versions.GetTypeText(i)) + L":" +
           XmlEscape(versions.GetFetch(i)) + L" " + std::to_wstring(versions.GetVersion(i).Points) +
           L"</small></div>";
}

std::wstring ActiveCandidateLine(const TVersions& versions, std::size_t i) {
    return L"<div style=\"margin : 5px; border:solid 1px red; background:" +
           CandidateColour(versions.GetVersionType(i)) + L"\">" +
           HtmlEscape(versions.GetVersionText(i)) + L"<br>" + CandidateSource(versions, i);
}

std::wstring RemovedCandidateLine(const TVersions& versions, std::size_t i) {
    return L"<div style=\"margin : 5px; border:solid 0px red; background:gray\">" +
           HtmlEscape(versions.GetVersion(i).RemoveReason.str()) + L"<br><b>" +
           HtmlEscape(versions.GetVersionText(i)) + L"</b><br>" + CandidateSource(versions, i);
}

std::wstring Fact(std::wstring_view label, const ShortText& field) {
    return std::wstring(label) + L": <b>" + HtmlEscape(field.str()) + L"</b>";
}

// A character reference may name only a character that XML 1.0 allows in a
// document: a control character other than TAB, LF and CR, a lone half of a
// UTF-16 pair or U+FFFE/U+FFFF would make every reader reject the whole
// document. Such a character is written as U+FFFD, the replacement character.
std::uint32_t XmlCharOrReplacement(std::uint32_t code) {
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                         (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                         (code >= 0x10000 && code <= 0x10FFFF);
    return allowed ? code : 0xFFFD;
}

// The payload file holds one line per record with one TAB in it, and the
// service splits it so. A registry text may carry TABs, line breaks or other
// control characters; each becomes a blank, so that no record can split its
// line or pass a line of its own off as another record.
std::wstring PayloadField(std::wstring text) {
    for (wchar_t& c : text)
        if (c < 32) c = L' ';
    return text;
}

}  // namespace

std::wstring ChosenVersion(const TApp& app) {
    const TVersions& versions = app.Versions;
    if (versions.ActiveCount() != 1) return {};
    for (std::size_t i = 0; i < versions.Count(); ++i)
        if (versions.IsActive(i)) return versions.GetVersionText(i);
    return {};
}

void AppToXml(const TApp& app, TextLines& lines) {
    lines.push_back(L"<app>");
    lines.push_back(L"   <RegistryPath>" + XmlEscape(app.RegistryPath.str()) + L"</RegistryPath>");
    AppendXmlField(lines, L"regDisplayName", app.regDisplayName);
    AppendXmlField(lines, L"regDisplayIcon", app.regDisplayIcon);
    AppendXmlField(lines, L"regUninstallString", app.regUninstallString);
    AppendXmlField(lines, L"regInstallLocation", app.regInstallLocation);
    AppendXmlField(lines, L"executablePath", app.executablePath);
    AppendXmlField(lines, L"niceName", app.niceName);
    const TVersions& versions = app.Versions;
    for (std::size_t i = 0; i < versions.Count(); ++i) {
        lines.push_back(L"   <version type=\"" + std::wstring(versions.GetTypeText(i)) +
                        L"\" fetch=\"" + XmlEscape(versions.GetFetch(i)) + L"\">" +
                        XmlEscape(versions.GetVersionText(i)) + L"</version>");
    }
    lines.push_back(L"</app>");
    lines.push_back(L"");
}

void AppToHtmlList(const TApp& app, TextLines& groupA, TextLines& groupB, bool includeAll) {
    const std::size_t active = app.Versions.ActiveCount();
    if (active == 1)
        AppToHtmlRow(app, groupB);
    else if (includeAll || active > 1)
        AppToHtmlRow(app, groupA);
}

void AppToHtmlRow(const TApp& app, TextLines& rows) {
    const TVersions& versions = app.Versions;
    rows.push_back(L"<tr style=\"background:" + RowColour(versions.ActiveCount()) + L";\">");
    rows.push_back(L"<td style=\"width:200px;\">" + HtmlEscape(app.regDisplayName.str()) + L"<br>" +
                   AppInfoHtml(app) + L"</td>");
    rows.push_back(L"<td>" + std::to_wstring(versions.ActiveCount()) + L" / " +
                   std::to_wstring(versions.Count()) + L"</td>");
    rows.push_back(L"<td>");
    for (std::size_t i = 0; i < versions.Count(); ++i)
        if (versions.IsActive(i)) rows.push_back(ActiveCandidateLine(versions, i));
    for (std::size_t i = 0; i < versions.Count(); ++i)
        if (!versions.IsActive(i)) rows.push_back(RemovedCandidateLine(versions, i));
    rows.push_back(L"</td>");
    rows.push_back(L"</tr>");
}

std::wstring AppInfoHtml(const TApp& app) {
    return Fact(L"regDisplayName", app.regDisplayName) + L"<br>" + Fact(L"niceName", app.niceName) +
           L"<br>" + Fact(L"executablePath", app.executablePath) + L"<br>" +
           Fact(L"regUninstallString", app.regUninstallString) + L"<br>" +
           Fact(L"regDisplayIcon", app.regDisplayIcon) + L"<br>" +
           Fact(L"regInstallLocation", app.regInstallLocation);
}

void AppPayloadLine(const TApp& app, TextLines& payloadLines) {
    payloadLines.push_back(PayloadField(app.niceName.str()) + L"\t" +
                           PayloadField(ChosenVersion(app)));
}

std::wstring XmlEscape(std::wstring_view text) {
    // One pass does what replacing each special character in turn over the
    // whole text would do: the text is trimmed once (no replacement can
    // create a new blank or control character at either end), and every
    // entity is written once, so none is escaped again.
    const std::wstring trimmed = Trim(text);
    std::wstring result;
    result.reserve(trimmed.size() + trimmed.size() / 4);
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        const wchar_t c = trimmed[i];
        switch (c) {
            case L'&': result += L"&amp;"; break;
            case L'<': result += L"&lt;"; break;
            case L'>': result += L"&gt;"; break;
            case L'\'': result += L"&apos;"; break;
            case L'"': result += L"&quot;"; break;
            default:
                if (c < 32 || c > 127) {
                    auto code = static_cast<std::uint32_t>(c);
                    // A UTF-16 pair is one character and gets one reference.
                    if (i + 1 < trimmed.size() &&
                        IsSurrogatePair(code, static_cast<std::uint32_t>(trimmed[i + 1]))) {
                        code = CombineSurrogates(code, static_cast<std::uint32_t>(trimmed[++i]));
                    }
                    result += L"&#" + std::to_wstring(XmlCharOrReplacement(code)) + L";";
                } else {
                    result += c;
                }
        }
    }
    return result;
}

std::wstring HtmlEscape(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'&': result += L"&amp;"; break;
            case L'<': result += L"&lt;"; break;
            case L'>': result += L"&gt;"; break;
            case L'"': result += L"&quot;"; break;
            default: result += c;
        }
    }
    return result;
}

}  // namespace kelvra
