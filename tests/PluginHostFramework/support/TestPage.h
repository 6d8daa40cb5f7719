#pragma once

#include "browser/PageScript.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace veltra::host {
class HostFunctions;
}

namespace veltra::test {

using host::PageHandle;
using host::PageValue;

/// An object of the test page: the methods and properties the test gives it, what it answers when
/// called as a function, and every call it got as one.
struct PageObject
{
    /// Answers a call; throws (host::PageScriptError) where script would throw.
    using Method = std::function<PageValue(const std::vector<PageValue>& args)>;

    PageHandle handle = 0;
    std::map<std::string, Method> methods;
    /// Run when the object is called as a function; when empty the call is only recorded.
    Method call;
    /// Values the page holds: change entries that hold objects through TestPage::setProperty and
    /// TestPage::removeProperty, which keep the objects alive while they are held.
    std::map<std::string, PageValue> properties;
    /// The arguments of every call as a function, held as properties are.
    std::vector<std::vector<PageValue>> calls;
};

/// A page in memory, as the host's browser reaches a page: objects by handle, counted references,
/// script evaluation answered by the test. Plug-in objects the page keeps are retained through the
/// host's functions.
class TestPage : public host::PageScript
{
public:
    explicit TestPage(host::HostFunctions& host);
    ~TestPage() override;
    TestPage(const TestPage&) = delete;
    TestPage& operator=(const TestPage&) = delete;

    static constexpr PageHandle windowHandle = 1;
    PageObject& windowObject() { return *find(windowHandle); }
    /// A new object with one reference, which the caller gives back with release().
    PageObject* create();
    /// The object behind `handle`, null once it is gone.
    PageObject* find(PageHandle handle);
    void retain(PageHandle handle);
    /// `object` as a value a page call answers: it carries a reference of its own.
    PageValue handOut(PageObject* object);

    /// Takes a reference to what `value` names, for the page to keep; drop() gives it back.
    PageValue hold(const PageValue& value);
    void drop(const PageValue& value);

    void setProperty(PageObject& object, const std::string& name, const PageValue& value);
    void removeProperty(PageObject& object, const std::string& name);
    /// Objects alive now, the window not counted.
    std::size_t liveObjects() const { return _objects.size() - 1; }

    /// Answers evaluate after the text is recorded; throws for a script that fails. Without one
    /// every evaluation answers void.
    using Evaluator = std::function<PageValue(const std::string& script)>;
    void setEvaluator(Evaluator evaluator) { _evaluator = std::move(evaluator); }
    const std::vector<std::string>& evaluated() const { return _evaluated; }

    // What the host calls.
    PageHandle window() override;
    PageValue evaluate(const std::string& script) override;
    PageValue invoke(PageHandle object, const std::string& method, const std::vector<PageValue>& args) override;
    PageValue invokeDefault(PageHandle object, const std::vector<PageValue>& args) override;
    PageValue getProperty(PageHandle object, const std::string& name) override;
    void setProperty(PageHandle object, const std::string& name, const PageValue& value) override;
    bool hasMethod(PageHandle object, const std::string& name) override;
    bool hasProperty(PageHandle object, const std::string& name) override;
    void release(PageHandle object) noexcept override;

private:
    struct Record
    {
        PageObject object;
        std::size_t references = 1;
    };

    PageObject& existing(PageHandle handle);

    host::HostFunctions& _host;
    std::map<PageHandle, std::unique_ptr<Record>> _objects;
    PageHandle _lastHandle = 0;
    Evaluator _evaluator;
    std::vector<std::string> _evaluated;
};

} // namespace veltra::test
