#include <QMenu>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "browser/MyDocHandler.h"
#include "components/Menus.h"
#include "platform/sim/SimPlatform.h"

namespace {

// Tells when the object has freed itself.
class TrackedHandler : public MyDocHandler {
public:
    explicit TrackedHandler(bool& freed) : freed_(freed) {}

protected:
    ~TrackedHandler() override { freed_ = true; }

private:
    bool& freed_;
};

class CountingDispatch : public IDispatch {
public:
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override { return static_cast<ULONG>(--refs); }
    int refs = 1;
};

// The object frees itself at 0, so every test gives up its own reference last.
struct Handler {
    MyDocHandler* h = new MyDocHandler;
    ~Handler() { h->Release(); }
    MyDocHandler* operator->() const { return h; }
};

constexpr IID IID_IOleCommandTarget = {0xB722BCCB, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};

}  // namespace

TEST(MyDocHandler, LeavesEveryOtherHostQuestionToTheBrowser)
{
    Handler h;
    DOCHOSTUIINFO info;
    TRect border;
    TMessage msg;
    wchar_t* out = nullptr;
    void* drop = nullptr;
    EXPECT_EQ(h->GetHostInfo(&info), E_NOTIMPL);
    EXPECT_EQ(h->ShowUI(1, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(h->HideUI(), E_NOTIMPL);
    EXPECT_EQ(h->UpdateUI(), E_NOTIMPL);
    EXPECT_EQ(h->EnableModeless(true), E_NOTIMPL);
    EXPECT_EQ(h->OnDocWindowActivate(true), E_NOTIMPL);
    EXPECT_EQ(h->OnFrameWindowActivate(false), E_NOTIMPL);
    EXPECT_EQ(h->ResizeBorder(&border, nullptr, true), E_NOTIMPL);
    EXPECT_EQ(h->TranslateAccelerator(&msg, nullptr, 0), E_NOTIMPL);
    EXPECT_EQ(h->GetOptionKeyPath(&out, 0), E_NOTIMPL);
    EXPECT_EQ(h->GetDropTarget(nullptr, &drop), E_NOTIMPL);
    EXPECT_EQ(h->TranslateUrl(0, L"http://x/", &out), E_NOTIMPL);
    EXPECT_EQ(h->FilterDataObject(nullptr, &drop), E_NOTIMPL);
    EXPECT_EQ(info.dwFlags, 0u) << "no host flags are supplied";
    EXPECT_EQ(h->RefCount.load(), 1);
}

TEST(MyDocHandler, GetExternalNeedsAPlaceAndHandsOutOnlyASetObject)
{
    Handler h;
    EXPECT_EQ(h->GetExternal(nullptr), E_POINTER);
    IDispatch* out = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(h->GetExternal(&out), E_NOTIMPL);
    EXPECT_EQ(out, nullptr);

    CountingDispatch external;
    h->ExternalDispatch = &external;
    EXPECT_EQ(h->GetExternal(nullptr), E_POINTER);
    EXPECT_EQ(external.refs, 1);
    EXPECT_EQ(h->GetExternal(&out), S_OK);
    EXPECT_EQ(out, &external);
    EXPECT_EQ(external.refs, 2) << "the receiver gets its own reference";
}

TEST(MyDocHandler, QueryInterfaceGivesOnlyItselfForItsTwoInterfaces)
{
    Handler h;
    void* out = nullptr;
    EXPECT_EQ(h->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<IUnknown*>(h.h));
    EXPECT_EQ(h->QueryInterface(IID_IDocHostUIHandler, &out), S_OK);
    EXPECT_EQ(out, static_cast<IDocHostUIHandler*>(h.h));
    EXPECT_EQ(h->RefCount.load(), 3) << "each hand-out adds a reference";

    for (const IID& other : {IID_ICustomDoc, IID_IOleCommandTarget}) {
        out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(h->QueryInterface(other, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    // An identifier that differs in its last byte only is another interface.
    IID almost = IID_IDocHostUIHandler;
    almost.Data4[7] ^= 1;
    EXPECT_EQ(h->QueryInterface(almost, &out), E_NOINTERFACE);
    EXPECT_EQ(h->RefCount.load(), 3);
    h->Release();
    h->Release();
}

TEST(MyDocHandler, StartsWithTheCreatorsReferenceAndFreesItselfAtZero)
{
    bool freed = false;
    auto* h = new TrackedHandler(freed);
    EXPECT_EQ(h->RefCount.load(), 1);
    EXPECT_EQ(h->ExternalDispatch, nullptr);
    EXPECT_EQ(h->PopupMenu, nullptr);
    EXPECT_TRUE(h->ShowDefaultMenu);
    EXPECT_EQ(h->AddRef(), 2u);
    EXPECT_EQ(h->AddRef(), 3u);
    EXPECT_EQ(h->Release(), 2u);
    EXPECT_EQ(h->Release(), 1u);
    EXPECT_FALSE(freed) << "the creator's reference keeps it";
    EXPECT_EQ(h->Release(), 0u);
    EXPECT_TRUE(freed);
}

TEST(MyDocHandler, CountsAtomicallyAcrossThreads)
{
    bool freed = false;
    auto* h = new TrackedHandler(freed);
    constexpr int kPerThread = 200000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([h] {
            for (int i = 0; i < kPerThread; ++i) h->AddRef();
            for (int i = 0; i < kPerThread; ++i) h->Release();
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(freed);
    EXPECT_EQ(h->RefCount.load(), 1);
    h->Release();
    EXPECT_TRUE(freed);
}

TEST(MyDocHandler, ContextMenuOpensThePopupMenuAtThePointElseFollowsShowDefaultMenu)
{
    SimPlatform sim;
    TPopupMenu menu;
    menu.Add("HidetoTray1", "Hide to Tray");
    std::vector<std::string> events;
    QPoint shownAt;
    menu.OnPopup = [&](TPopupMenu*) { events.push_back("popup"); };
    menu.OnShown = [&](TPopupMenu* m) {
        events.push_back("shown");
        shownAt = m->Menu()->pos();
        m->Menu()->close();
    };
    Handler h;
    h->PopupMenu = &menu;
    for (bool showDefault : {true, false}) {
        h->ShowDefaultMenu = showDefault;
        events.clear();
        const TPoint at{140, 90};
        for (DWORD kind : {CONTEXT_MENU_DEFAULT, CONTEXT_MENU_ANCHOR, CONTEXT_MENU_IMAGE, CONTEXT_MENU_TEXTSELECT}) {
            EXPECT_EQ(h->ShowContextMenu(kind, &at, nullptr, nullptr), S_OK);
        }
        EXPECT_EQ(events, (std::vector<std::string>{"popup", "shown", "popup", "shown", "popup", "shown", "popup", "shown"}));
        EXPECT_EQ(shownAt, QPoint(140, 90));
    }

    h->PopupMenu = nullptr;
    events.clear();
    const TPoint at{10, 20};
    h->ShowDefaultMenu = true;
    EXPECT_EQ(h->ShowContextMenu(CONTEXT_MENU_DEFAULT, &at, nullptr, nullptr), E_NOTIMPL) << "the browser's own menu";
    h->ShowDefaultMenu = false;
    EXPECT_EQ(h->ShowContextMenu(CONTEXT_MENU_ANCHOR, &at, nullptr, nullptr), S_OK) << "no menu at all";
    EXPECT_TRUE(events.empty());
}

TEST(MyDocHandler, AttachedToADocumentItIsKeptAliveByTheDocumentsReference)
{
    SimPlatform sim;
    auto view = sim.browsers.Create(nullptr);
    auto* sv = sim.browsers.created.back();
    view->Navigate("http://svc/index.php", 0, "", "", "");
    sv->CompleteNavigation();

    bool freed = false;
    auto* h = new TrackedHandler(freed);
    h->ShowDefaultMenu = false;
    view->Document()->SetUIHandler(h);
    EXPECT_EQ(h->RefCount.load(), 2);
    EXPECT_FALSE(sv->RightClick({5, 5})) << "no browser menu";
    h->Release();  // the creator lets go; the document still holds it
    EXPECT_FALSE(freed);
    EXPECT_FALSE(sv->RightClick({5, 5}));

    view->Navigate("http://svc/time_log.php", 0, "", "", "");
    sv->CompleteNavigation();  // the attached document goes
    EXPECT_TRUE(freed);
    EXPECT_TRUE(sv->RightClick({5, 5})) << "the new document has no handler";
    EXPECT_EQ(sv->engineMenus, 1);
}
