#include "account/form_layouts.h"

#include <algorithm>
#include <cstdlib>

namespace kelvra {
namespace {

using K = ControlKind;
using E = ControlEvent;
using M = ModalResult;
using A = TextAlign;
constexpr int kNone = kNoTabStop;

// clang-format off
// name, kind, parent, caption, rectangle, tab order, event, handler, modal result, alignment
constexpr ControlLayout kSettingsControls[] = {
    {L"PageControl1", K::PageControl, L"", L"", {32, 24, 577, 321}, 0},
    {L"TabSheet1", K::TabSheet, L"PageControl1", L"Account && Profile", {}, kNone},
    {L"Label1", K::LinkLabel, L"TabSheet1", L"No account yet? Create one here.", {195, 10, 164, 13},
     kNone, E::Click, L"Label1Click"},
    {L"GroupBox2", K::GroupBox, L"TabSheet1", L"Account", {32, 32, 489, 201}, 0},
    {L"editUsername", K::LabelledEdit, L"GroupBox2", L"Username:", {32, 48, 169, 21}, 0, E::Change,
     L"editPasswordChange"},
    {L"editPassword", K::LabelledEdit, L"GroupBox2", L"Password", {253, 48, 169, 21}, 1, E::Change,
     L"editPasswordChange"},
    {L"editProfile", K::LabelledEdit, L"GroupBox2", L"Profile", {32, 96, 390, 21}, 2, E::Change,
     L"editPasswordChange"},
    {L"labAccountTest", K::Label, L"GroupBox2", L"labAccountTest", {206, 149, 74, 13}, kNone,
     E::None, L"", M::None, A::Right},
    {L"butTestAccount", K::FlatButton, L"GroupBox2", L"test account settings", {288, 144, 134, 22},
     kNone, E::Click, L"butTestAccountClick"},
    {L"TabSheet2", K::TabSheet, L"PageControl1", L"Connection", {}, kNone},
    {L"GroupBox1", K::GroupBox, L"TabSheet2", L"Proxy", {32, 32, 489, 209}, 0},
    {L"checkProxy", K::CheckBox, L"GroupBox1", L"Use proxy", {32, 32, 97, 17}, 0, E::Click,
     L"checkProxyClick"},
    {L"editProxyServer", K::LabelledEdit, L"GroupBox1", L"Proxy-server", {64, 81, 169, 21}, 1},
    {L"editProxyPort", K::LabelledEdit, L"GroupBox1", L"Port", {288, 81, 65, 21}, 2},
    {L"editProxyUsername", K::LabelledEdit, L"GroupBox1", L"Username", {64, 136, 169, 21}, 3},
    {L"editProxyPassword", K::LabelledEdit, L"GroupBox1", L"Password", {287, 136, 169, 21}, 4},
    {L"Button1", K::PushButton, L"", L"Save", {534, 368, 75, 25}, 1, E::None, L"", M::Ok},
    {L"Button2", K::PushButton, L"", L"Cancel", {438, 368, 75, 25}, 2, E::None, L"", M::Cancel},
};

constexpr ControlLayout kNewAccountControls[] = {
    {L"GroupBox1", K::GroupBox, L"", L"Account-info", {24, 24, 249, 161}, 0},
    {L"editEmail", K::LabelledEdit, L"GroupBox1", L"Email:", {32, 48, 185, 21}, 0},
    {L"editUsername", K::LabelledEdit, L"GroupBox1", L"Username:", {32, 104, 185, 21}, 1},
    {L"SpeedButton1", K::FlatButton, L"", L"create", {192, 208, 81, 25}, kNone, E::Click,
     L"SpeedButton1Click"},
};

// name, caption, border, client width and height, font, show handler, controls
const FormLayout kSettingsForm{L"SettingsForm", L"Settings", FormBorder::Single, 650, 422,
                               L"Tahoma", 8, L"FormShow", kSettingsControls};
const FormLayout kNewAccountForm{L"NewAccountForm", L"Create your Kelvra account",
                                 FormBorder::Dialog, 298, 252, L"Tahoma", 8, L"",
                                 kNewAccountControls};
// clang-format on

// Children of a parent sorted by tab order; controls without one keep their
// table order behind those that have one.
std::vector<const ControlLayout*> ChildrenInTabOrder(const FormLayout& form,
                                                     std::wstring_view parent) {
    std::vector<const ControlLayout*> children = ChildrenOf(form, parent);
    std::stable_sort(children.begin(), children.end(),
                     [](const ControlLayout* a, const ControlLayout* b) {
                         const bool aStop = a->tabOrder != kNoTabStop;
                         const bool bStop = b->tabOrder != kNoTabStop;
                         if (aStop != bStop) return aStop;
                         return aStop && a->tabOrder < b->tabOrder;
                     });
    return children;
}

void AppendTabStops(const FormLayout& form, std::wstring_view parent, std::wstring_view shownPage,
                    std::vector<const ControlLayout*>& sequence) {
    for (const ControlLayout* control : ChildrenInTabOrder(form, parent)) {
        switch (control->kind) {
            case K::PageControl:
                if (control->tabOrder != kNoTabStop) sequence.push_back(control);
                for (const ControlLayout* page : ChildrenOf(form, control->name))
                    if (page->name == shownPage)
                        AppendTabStops(form, page->name, shownPage, sequence);
                break;
            case K::GroupBox:
            case K::TabSheet: AppendTabStops(form, control->name, shownPage, sequence); break;
            case K::Label:
            case K::LinkLabel:
            case K::FlatButton: break;
            case K::LabelledEdit:
            case K::CheckBox:
            case K::PushButton:
                if (control->tabOrder != kNoTabStop) sequence.push_back(control);
                break;
        }
    }
}

}  // namespace

const FormLayout& SettingsFormLayout() { return kSettingsForm; }
const FormLayout& NewAccountFormLayout() { return kNewAccountForm; }

const ControlLayout* FindControl(const FormLayout& form, std::wstring_view name) {
    for (const ControlLayout& control : form.controls)
        if (control.name == name) return &control;
    return nullptr;
}

std::vector<const ControlLayout*> ChildrenOf(const FormLayout& form, std::wstring_view parent) {
    std::vector<const ControlLayout*> children;
    for (const ControlLayout& control : form.controls)
        if (control.parent == parent) children.push_back(&control);
    return children;
}

int ScaleToDpi(int pixels, int dpi) {
    const long long product = static_cast<long long>(pixels) * dpi;
    const long long half = kDesignDpi / 2;
    const long long scaled = (std::llabs(product) + half) / kDesignDpi;
    return static_cast<int>(product < 0 ? -scaled : scaled);
}

PixelRect ScaleRect(const PixelRect& rect, int dpi) {
    const int left = ScaleToDpi(rect.left, dpi);
    const int top = ScaleToDpi(rect.top, dpi);
    return {left, top, ScaleToDpi(rect.right(), dpi) - left, ScaleToDpi(rect.bottom(), dpi) - top};
}

int FontHeightForDpi(int points, int dpi) {
    constexpr long long kPointsPerInch = 72;
    return -static_cast<int>((static_cast<long long>(points) * dpi + kPointsPerInch / 2) /
                             kPointsPerInch);
}

PixelRect CaptionRectOfLabelledEdit(const PixelRect& edit) {
    // One line of Tahoma 8 pt (13 pixels) and a gap of 3 above the field.
    constexpr int kLineHeight = 13;
    constexpr int kGap = 3;
    return {edit.left, edit.top - kGap - kLineHeight, edit.width, kLineHeight};
}

std::wstring ShownCaption(std::wstring_view stored) {
    std::wstring shown;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == L'&') {
            if (i + 1 < stored.size() && stored[i + 1] == L'&') {
                shown += L'&';
                ++i;
            }
            continue;
        }
        shown += stored[i];
    }
    return shown;
}

std::vector<const ControlLayout*> TabSequence(const FormLayout& form, std::wstring_view shownPage) {
    std::vector<const ControlLayout*> sequence;
    AppendTabStops(form, L"", shownPage, sequence);
    return sequence;
}

}  // namespace kelvra
