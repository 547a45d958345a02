// The dialog tables as a whole: what the windows built from them inherit
// (nothing outside its parent, nothing on top of anything else, the order the
// Tab key walks) and the geometry rules that scale them.

#include "account/form_layouts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kelvra {
namespace {

const FormLayout* const kForms[] = {&SettingsFormLayout(), &NewAccountFormLayout()};

// The area a control may use inside its parent. A tab sheet is the page
// control's display area, whose exact size the system decides; the tab strip
// and the frame take no more than this.
PixelRect UsableAreaOf(const FormLayout& form, std::wstring_view parent) {
    if (parent.empty()) return {0, 0, form.clientWidth, form.clientHeight};
    const ControlLayout* control = FindControl(form, parent);
    if (control->kind == ControlKind::TabSheet) {
        const PixelRect pages = FindControl(form, control->parent)->rect;
        return {0, 0, pages.width - 8, pages.height - 30};
    }
    // A group box's caption runs along its top edge.
    return {2, 14, control->rect.width - 4, control->rect.height - 16};
}

// What a control covers in its parent: a labelled edit's caption too.
std::vector<PixelRect> FootprintOf(const ControlLayout& control) {
    if (control.kind == ControlKind::LabelledEdit)
        return {control.rect, CaptionRectOfLabelledEdit(control.rect)};
    return {control.rect};
}

bool Overlap(const PixelRect& a, const PixelRect& b) {
    return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

bool Inside(const PixelRect& inner, const PixelRect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom();
}

std::vector<std::wstring> Names(const std::vector<const ControlLayout*>& controls) {
    std::vector<std::wstring> names;
    for (const ControlLayout* control : controls) names.emplace_back(control->name);
    return names;
}

TEST(DialogTables, EveryControlHasItsParentBeforeItAndAUniqueName) {
    for (const FormLayout* form : kForms) {
        std::set<std::wstring_view> seen;
        for (const ControlLayout& control : form->controls) {
            EXPECT_TRUE(control.parent.empty() || seen.count(control.parent))
                << std::string(control.name.begin(), control.name.end());
            EXPECT_TRUE(seen.insert(control.name).second);
            // Tab sheets take their place from the page control, nothing else.
            EXPECT_EQ(control.kind == ControlKind::TabSheet,
                      !control.parent.empty() &&
                          FindControl(*form, control.parent)->kind == ControlKind::PageControl);
        }
    }
}

TEST(DialogTables, SiblingsNeitherLeaveTheirParentNorOverlap) {
    for (const FormLayout* form : kForms) {
        std::set<std::wstring_view> parents{L""};
        for (const ControlLayout& control : form->controls) parents.insert(control.name);
        for (std::wstring_view parent : parents) {
            const auto children = ChildrenOf(*form, parent);
            for (std::size_t i = 0; i < children.size(); ++i) {
                if (children[i]->kind == ControlKind::TabSheet) continue;
                const std::string name(children[i]->name.begin(), children[i]->name.end());
                for (const PixelRect& part : FootprintOf(*children[i]))
                    EXPECT_TRUE(Inside(part, UsableAreaOf(*form, parent))) << name;
                for (std::size_t j = i + 1; j < children.size(); ++j)
                    for (const PixelRect& a : FootprintOf(*children[i]))
                        for (const PixelRect& b : FootprintOf(*children[j]))
                            EXPECT_FALSE(Overlap(a, b))
                                << name << " / "
                                << std::string(children[j]->name.begin(), children[j]->name.end());
            }
        }
    }
}

TEST(DialogTables, TabOrdersAmongSiblingsCountFromZeroWithoutGaps) {
    for (const FormLayout* form : kForms) {
        std::set<std::wstring_view> parents{L""};
        for (const ControlLayout& control : form->controls) parents.insert(control.name);
        for (std::wstring_view parent : parents) {
            std::set<int> orders;
            for (const ControlLayout* child : ChildrenOf(*form, parent)) {
                if (child->tabOrder != kNoTabStop) {
                    EXPECT_TRUE(orders.insert(child->tabOrder).second);
                }
            }
            int expected = 0;
            for (int order : orders) EXPECT_EQ(order, expected++);
        }
    }
}

TEST(DialogTables, TabKeyWalksIntoTheShownPageAndItsGroupBox) {
    const FormLayout& settings = SettingsFormLayout();
    EXPECT_EQ(Names(TabSequence(settings, L"TabSheet1")),
              (std::vector<std::wstring>{L"PageControl1", L"editUsername", L"editPassword",
                                         L"editProfile", L"Button1", L"Button2"}));
    EXPECT_EQ(Names(TabSequence(settings, L"TabSheet2")),
              (std::vector<std::wstring>{L"PageControl1", L"checkProxy", L"editProxyServer",
                                         L"editProxyPort", L"editProxyUsername",
                                         L"editProxyPassword", L"Button1", L"Button2"}));
    // The flat "create" button never takes the focus.
    EXPECT_EQ(Names(TabSequence(NewAccountFormLayout(), L"")),
              (std::vector<std::wstring>{L"editEmail", L"editUsername"}));
}

TEST(DialogGeometry, ScaledControlsKeepTouchingAndEightPointsAreElevenPixels) {
    EXPECT_EQ(ScaleToDpi(75, 96), 75);
    EXPECT_EQ(ScaleToDpi(75, 120), 94);  // 93.75
    EXPECT_EQ(ScaleToDpi(2, 120), 3);    // 2.5 rounds away from zero
    EXPECT_EQ(ScaleToDpi(-2, 120), -3);
    EXPECT_EQ(ScaleToDpi(13, 144), 20);  // 19.5

    // Two controls that touch keep touching: edges are scaled, not sizes
    // (1.25 + 1.25 would round to 1 + 1, leaving a gap before 2.5 -> 3).
    const PixelRect left{1, 1, 1, 1};
    const PixelRect right{2, 2, 5, 5};
    for (int dpi : {96, 110, 120, 144, 192}) {
        EXPECT_EQ(ScaleRect(left, dpi).right(), ScaleRect(right, dpi).left) << dpi;
        EXPECT_EQ(ScaleRect(left, dpi).bottom(), ScaleRect(right, dpi).top) << dpi;
    }
    const PixelRect cancel{438, 368, 75, 25};
    EXPECT_EQ(ScaleRect(cancel, 96), cancel);

    // 8 points: 10.67 pixels rounds to 11 at 96 dpi, 13.33 to 13 at 120.
    EXPECT_EQ(FontHeightForDpi(8, 96), -11);
    EXPECT_EQ(FontHeightForDpi(8, 120), -13);
    EXPECT_EQ(FontHeightForDpi(8, 144), -16);
}

TEST(DialogCaptions, DoubledAmpersandShowsOneAndASingleOneMarksAMnemonic) {
    EXPECT_EQ(ShownCaption(L"Account && Profile"), L"Account & Profile");
    EXPECT_EQ(ShownCaption(L"&Save"), L"Save");
    EXPECT_EQ(ShownCaption(L"a&&&b"), L"a&b");
    EXPECT_EQ(ShownCaption(L"trailing&"), L"trailing");
    EXPECT_EQ(ShownCaption(L"No account yet? Create one here."),
              L"No account yet? Create one here.");
}

}  // namespace
}  // namespace kelvra
