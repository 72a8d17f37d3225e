// The layout builder and the control factory: element names in any case,
// unknown elements, the builder callback, includes, class defaults, the
// window's size, refused parents and child layouts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ChildLayout.h"
#include "Container.h"
#include "ControlFactory.h"
#include "Label.h"
#include "LayoutBuilder.h"
#include "PaintManager.h"
#include "SkinTestSupport.h"
#include "StackLayout.h"
#include "support/UITestHost.h"

using namespace Veneer;
using uitest::HostWindow;

namespace {

int g_made = 0;
int g_gone = 0;

class Gadget : public CControlUI {
public:
    Gadget() { ++g_made; }
    ~Gadget() override { ++g_gone; }
};

class Callback : public IDialogBuilderCallback {
public:
    CControlUI* CreateCustomControl(const wchar_t* className) override {
        asked.push_back(className);
        return CompareTextNoCase(className, L"Gadget") == 0 ? new Gadget : nullptr;
    }
    std::vector<std::wstring> asked;
};

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        skintest::UseFolder(skintest::SkinFolder());
        scale = MulDiv(skintest::ExpectedDpi(), 100, 96);
        host.reset(new HostWindow(100, 100));
        g_made = g_gone = 0;
    }
    void TearDown() override { host.reset(); }
    CPaintManagerUI& Manager() { return host->Manager(); }
    int S(int v) const { return MulDiv(v, scale, 100); }
    CControlUI* Named(const wchar_t* name) { return Manager().FindControlByName(name); }

    std::unique_ptr<HostWindow> host;
    Callback callback;
    int scale = 100;
};

TEST_F(BuilderTest, FactoryKnowsItsClassesInAnyCase) {
    CControlFactory* factory = CControlFactory::GetInstance();
    const wchar_t* known[] = {L"CControlUI", L"ccontainerui", L"CLABELUI", L"CScrollBarUI", L"CChildLayoutUI",
                              L"CHorizontalLayoutUI", L"CTabLayoutUI", L"CTileLayoutUI", L"CVerticalLayoutUI"};
    for (const wchar_t* name : known) {
        std::unique_ptr<CControlUI> control(factory->CreateControlByClass(name));
        ASSERT_NE(nullptr, control) << name;
        EXPECT_EQ(0, CompareTextNoCase(std::wstring(L"C").append(control->GetClassTag()).append(L"UI").c_str(), name));
    }
    // A class of the controls library, which this program does not link.
    EXPECT_EQ(nullptr, factory->CreateControlByClass(L"CButtonUI"));
    // A name already present keeps its first function.
    factory->RegisterControlClass(L"CLabelUI", &CControlUI::CreateControlUI);
    std::unique_ptr<CControlUI> label(factory->CreateControlByClass(L"CLabelUI"));
    EXPECT_NE(nullptr, label->FindInterface(L"Label"));
}

TEST_F(BuilderTest, BuildsTheTreeWithDefaultsCallbackAndIncludes) {
    CLayoutBuilder builder;
    CControlUI* root = builder.Create(L"windows/builder.xml", nullptr, &callback, &Manager());
    ASSERT_NE(nullptr, root);
    // The window takes the layout's size, scaled, on the first build.
    RECT client = {};
    GetWindowRect(host->Window(), &client);
    EXPECT_EQ(S(400), client.right - client.left);
    EXPECT_EQ(S(300), client.bottom - client.top);
    EXPECT_EQ(0xFF123456u, Manager().GetDefaultFontColor());
    Manager().SetRootControl(root);
    host->Repaint();
    uitest::Pump();

    CContainerUI* layout = static_cast<CContainerUI*>(root->FindInterface(L"VerticalLayout"));
    ASSERT_NE(nullptr, layout);
    // own, defaulted, gadget, three parts, label: the unknown element and its subtree are gone.
    EXPECT_EQ(7, layout->GetItemCount());
    EXPECT_EQ(nullptr, Named(L"mystery"));
    EXPECT_EQ(nullptr, Named(L"lost"));
    EXPECT_EQ((std::vector<std::wstring>{L"Gadget", L"Mystery"}), callback.asked);
    // Own attributes beat the class defaults.
    EXPECT_EQ(0xFFFF0000u, Named(L"own")->GetBkColor());
    EXPECT_EQ(0xFF0000FFu, Named(L"defaulted")->GetBkColor());
    EXPECT_EQ(S(20), Named(L"defaulted")->GetHeight());
    EXPECT_EQ(S(30), Named(L"gadget")->GetHeight());
    for (int i = 3; i < 6; ++i) EXPECT_EQ(L"part", std::wstring(layout->GetItemAt(i)->GetName().GetData()));
    EXPECT_NE(nullptr, Named(L"label")->FindInterface(L"Label"));

    // A second build does not resize the window again.
    SetWindowPos(host->Window(), nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CLayoutBuilder again;
    std::unique_ptr<CControlUI> second(again.Create(L"windows/builder.xml", nullptr, &callback, &Manager()));
    GetWindowRect(host->Window(), &client);
    EXPECT_EQ(50, client.right - client.left);
}

TEST_F(BuilderTest, RefusedParentGivesNullAndDeletesWhatWasBuilt) {
    std::unique_ptr<Gadget> plain(new Gadget);
    g_made = g_gone = 0;
    CLayoutBuilder builder;
    EXPECT_EQ(nullptr, builder.Create(L"windows/refused.xml", nullptr, &callback, &Manager(), plain.get()));
    EXPECT_EQ(3, g_made);
    EXPECT_EQ(3, g_gone);
}

TEST_F(BuilderTest, SelfInclusionStopsAtTheNestingLimit) {
    CLayoutBuilder builder;
    CControlUI* root = builder.Create(L"windows/self.xml", nullptr, nullptr, &Manager());
    ASSERT_NE(nullptr, root);
    int depth = 0;
    for (CControlUI* level = root; level; ++depth) {
        CContainerUI* container = static_cast<CContainerUI*>(level->FindInterface(L"Container"));
        level = container && container->GetItemCount() > 0 ? container->GetItemAt(0) : nullptr;
    }
    EXPECT_EQ(CLayoutBuilder::kMaxNesting, depth);
    delete root;
}

TEST_F(BuilderTest, ChildLayoutLoadsItsOwnFileOnly) {
    CLayoutBuilder builder;
    CControlUI* root = builder.Create(L"windows/child.xml", nullptr, &callback, &Manager());
    ASSERT_NE(nullptr, root);
    // The element written inside the child layout was built and deleted.
    EXPECT_EQ(1, g_made);
    EXPECT_EQ(1, g_gone);
    Manager().SetRootControl(root);
    CChildLayoutUI* child = static_cast<CChildLayoutUI*>(Named(L"child")->FindInterface(L"ChildLayout"));
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(nullptr, child->FindInterface(L"IContainer"));
    ASSERT_EQ(1, child->GetItemCount());
    EXPECT_EQ(L"part", std::wstring(child->GetItemAt(0)->GetName().GetData()));
    CChildLayoutUI* broken = static_cast<CChildLayoutUI*>(Named(L"broken")->FindInterface(L"ChildLayout"));
    EXPECT_EQ(0, broken->GetItemCount());
    // A layout that contains itself ends at the nesting limit.
    CChildLayoutUI* recursive = static_cast<CChildLayoutUI*>(Named(L"recursive")->FindInterface(L"ChildLayout"));
    int depth = 0;
    for (CChildLayoutUI* level = recursive; level && level->GetItemCount() > 0; ++depth) {
        level = static_cast<CChildLayoutUI*>(level->GetItemAt(0)->FindInterface(L"ChildLayout"));
    }
    EXPECT_GT(depth, 0);
    EXPECT_LE(depth, CLayoutBuilder::kMaxNesting);
}

}  // namespace
