#pragma once

#include "TestPage.h"

#include "browser/BrowserLoop.h"
#include "browser/HostFunctions.h"
#include "browser/PageObjectProxy.h"

#include <npfunctions.h>

// X11 (pulled in by the NPAPI headers) defines these as macros; GoogleTest uses both names, and tests need neither.
#undef None
#undef Bool

#include <cstddef>
#include <memory>
#include <string>

namespace veltra::test {

/// The host's own browser functions with one instance on a page in memory, driven by the test's
/// thread: that thread is the browser thread, and the calls the plug-in queues for it run when the
/// test says. One may live at a time, as the host's functions allow.
class TestBrowser
{
public:
    /// `display` is answered for NPNVxDisplay (none when null).
    explicit TestBrowser(Display* display = nullptr);
    ~TestBrowser();
    TestBrowser(const TestBrowser&) = delete;
    TestBrowser& operator=(const TestBrowser&) = delete;

    /// The table as handed to NP_Initialize, and the instance handle the browser passes along.
    NPNetscapeFuncs* funcs() { return _host.table(); }
    NPP npp() { return &_instance; }
    host::HostFunctions& host() { return _host; }
    TestPage& page() { return _page; }

    /// The page's window object.
    PageObject* window() { return &_page.windowObject(); }
    /// A new page object with one reference, which the test gives back with release().
    PageObject* createPageObject() { return _page.create(); }
    void release(PageObject* object) { _page.release(object->handle); }
    /// `object` as the plug-in sees it (the host's proxy), with a reference the caller gives back.
    NPObject* object(PageObject* object);
    /// The page object behind an object the plug-in handed over; null for one of the plug-in's own.
    PageObject* pageObject(NPObject* object);
    void release(NPObject* object) { funcs()->releaseobject(object); }

    /// NPObjects alive now, the proxy the host keeps for the window not counted.
    std::size_t liveObjects() const;
    /// Blocks from memalloc not yet given back to memfree, since this browser was made.
    std::size_t liveAllocations() const { return host::HostFunctions::liveAllocations() - _allocationsBefore; }
    /// The message of the last setexception on this thread, "" when none since clearException().
    const std::string& lastException();
    void clearException();
    /// Script texts the plug-in evaluated, in order.
    const std::vector<std::string>& evaluated() const { return _page.evaluated(); }
    void setEvaluator(TestPage::Evaluator evaluator) { _page.setEvaluator(std::move(evaluator)); }
    /// Gives the window an "Array" method whose arrays take "push", storing elements as properties "0", "1", ...
    void enablePageArrays();

    /// Runs the calls queued for the browser thread so far; returns how many ran.
    std::size_t runPendingCalls() { return _loop.runPending(); }
    std::size_t pendingCalls() const { return _loop.pendingCount(); }
    /// While refused the table offers no pluginthreadasynccall.
    void setAsyncCallsRefused(bool refused);

    /// Helpers for tests: an interned identifier, and owned variant values freed by releasevariantvalue.
    static NPIdentifier id(const std::string& name);
    static NPVariant stringVariant(const std::string& text);
    static std::string text(const NPVariant& value);
    /// The plug-in value `value` as the page sees it (borrowed, as a call's arguments are).
    static PageValue pageValue(const NPVariant& value);
    /// The page value `value` as the plug-in gets it: an owned variant, void when it cannot be made.
    NPVariant variant(const PageValue& value);

private:
    host::BrowserLoop _loop{host::BrowserLoop::Driver::Caller};
    host::HostFunctions _host;
    TestPage _page{_host};
    NPP_t _instance{};
    std::shared_ptr<host::PageLink> _link;
    NPN_PluginThreadAsyncCallProcPtr _asyncCall = nullptr;
    std::size_t _allocationsBefore = host::HostFunctions::liveAllocations();
    std::string _lastException;
};

} // namespace veltra::test
