#pragma once

#include <npfunctions.h>

// X11 (pulled in by the NPAPI headers) defines these as macros; GoogleTest uses both names, and tests need neither.
#undef None
#undef Bool

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace veltra::test {

/// A page-side script object whose methods and properties are set by the test; created through FakeBrowser.
struct PageObject : NPObject
{
    using Method = std::function<bool(const NPVariant* args, uint32_t argCount, NPVariant* result)>;

    std::map<std::string, Method> methods;
    /// Run when the object is called as a function; when empty the call only records and answers void.
    Method call;
    /// Property values, owned by the object (strings are its copies, objects are retained).
    std::map<std::string, NPVariant> properties;
    /// The arguments of every call as a function, owned copies.
    std::vector<std::vector<NPVariant>> calls;

    /// Stores an owned copy of `value` under `name`, replacing the one there.
    void setProperty(const std::string& name, const NPVariant& value);

    static NPClass* npClass();
};

/// A browser played in memory: fills an NPNetscapeFuncs table with working scripting services. One may live at a time.
class FakeBrowser
{
public:
    FakeBrowser();
    ~FakeBrowser();
    FakeBrowser(const FakeBrowser&) = delete;
    FakeBrowser& operator=(const FakeBrowser&) = delete;

    /// The browser that the NPAPI callbacks reach, or null.
    static FakeBrowser* current();

    /// The browser's function table, as handed to NP_Initialize.
    NPNetscapeFuncs* funcs() { return &_funcs; }
    /// The instance handle the browser passes to the plug-in.
    NPP npp() { return &_instance; }
    /// The page's "window" object (held by the browser; answered for NPNVWindowNPObject).
    PageObject* window() { return _window; }

    /// A new page object with one reference, which the caller gives back with release().
    PageObject* createPageObject();
    void release(NPObject* object) { _funcs.releaseobject(object); }

    /// NPObjects alive now, the window object not counted.
    std::size_t liveObjects() const;
    /// Blocks from memalloc not yet given back to memfree.
    std::size_t liveAllocations() const;
    /// The message of the last setexception, "" when none.
    const std::string& lastException() const { return _lastException; }
    void clearException() { _lastException.clear(); }
    /// Script texts passed to evaluate, in order.
    const std::vector<std::string>& evaluated() const { return _evaluated; }
    /// Answers evaluate after it recorded the text: fills `result` (an owned value) and returns false for a script
    /// that throws. Without one every evaluation answers void.
    using Evaluator = std::function<bool(const std::string& script, NPVariant* result)>;
    void setEvaluator(Evaluator evaluator) { _evaluator = std::move(evaluator); }
    /// Gives the window an "Array" method whose arrays take "push", storing elements as properties "0", "1", ...
    void enablePageArrays();
    /// The X display answered for NPNVxDisplay (none by default).
    void setDisplay(void* display) { _display = display; }

    /// Runs the async calls queued so far on the calling thread; returns how many ran.
    std::size_t runPendingCalls();
    std::size_t pendingCalls() const;
    /// While refused the table offers no pluginthreadasynccall, and calls that still arrive are dropped.
    void setAsyncCallsRefused(bool refused);

    /// Helpers for tests: an interned identifier, and owned variant values freed by releasevariantvalue.
    static NPIdentifier id(const std::string& name);
    static NPVariant stringVariant(const std::string& text);
    static std::string text(const NPVariant& value);
    /// A deep copy: strings duplicated with memalloc, objects retained.
    static NPVariant copy(const NPVariant& value);

private:
    friend struct PageObject;
    struct AsyncCall
    {
        void (*func)(void*);
        void* data;
    };
    struct Callbacks;

    NPNetscapeFuncs _funcs{};
    NPP_t _instance{};
    PageObject* _window = nullptr;
    std::string _lastException;
    std::vector<std::string> _evaluated;
    Evaluator _evaluator;
    void* _display = nullptr;

    mutable std::mutex _lock; // guards the fields below, which other threads reach through the callbacks
    std::set<NPObject*> _live;
    std::size_t _allocations = 0;
    std::vector<AsyncCall> _pending;
    bool _refused = false;
};

} // namespace veltra::test
