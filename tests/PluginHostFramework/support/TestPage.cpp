#include "TestPage.h"

#include "browser/HostFunctions.h"

#include <utility>

namespace veltra::test {

TestPage::TestPage(host::HostFunctions& host) : _host(host)
{
    create(); // the window, held by the page itself
}

TestPage::~TestPage()
{
    // Objects may hold each other: let go of every held value first, then of the objects.
    std::vector<PageValue> held;
    for (auto& entry : _objects)
    {
        for (auto& property : entry.second->object.properties)
            held.push_back(property.second);
        for (auto& call : entry.second->object.calls)
            held.insert(held.end(), call.begin(), call.end());
    }
    for (const PageValue& value : held)
        if (value.type() == PageValue::Type::PluginObject)
            _host.releaseObject(value.asPluginObject());
}

PageObject* TestPage::create()
{
    auto record = std::make_unique<Record>();
    record->object.handle = ++_lastHandle;
    PageObject* object = &record->object;
    _objects.emplace(object->handle, std::move(record));
    return object;
}

PageObject* TestPage::find(PageHandle handle)
{
    auto found = _objects.find(handle);
    return found == _objects.end() ? nullptr : &found->second->object;
}

PageObject& TestPage::existing(PageHandle handle)
{
    PageObject* object = find(handle);
    if (!object)
        throw host::PageScriptError("The page object " + std::to_string(handle) + " is gone");
    return *object;
}

void TestPage::retain(PageHandle handle)
{
    auto found = _objects.find(handle);
    if (found != _objects.end())
        ++found->second->references;
}

PageValue TestPage::handOut(PageObject* object)
{
    retain(object->handle);
    return PageValue::pageObject(object->handle);
}

PageValue TestPage::hold(const PageValue& value)
{
    if (value.type() == PageValue::Type::PageObject)
        retain(value.asPageObject());
    else if (value.type() == PageValue::Type::PluginObject)
        _host.retainObject(value.asPluginObject());
    return value;
}

void TestPage::drop(const PageValue& value)
{
    if (value.type() == PageValue::Type::PageObject)
        release(value.asPageObject());
    else if (value.type() == PageValue::Type::PluginObject)
        _host.releaseObject(value.asPluginObject());
}

void TestPage::setProperty(PageObject& object, const std::string& name, const PageValue& value)
{
    // Held before the old value goes: the new one may be the old one.
    PageValue kept = hold(value);
    auto found = object.properties.find(name);
    if (found == object.properties.end())
    {
        object.properties.emplace(name, kept);
        return;
    }
    PageValue old = std::exchange(found->second, kept);
    drop(old);
}

void TestPage::removeProperty(PageObject& object, const std::string& name)
{
    auto found = object.properties.find(name);
    if (found == object.properties.end())
        return;
    PageValue old = found->second;
    object.properties.erase(found);
    drop(old);
}

PageHandle TestPage::window()
{
    retain(windowHandle);
    return windowHandle;
}

PageValue TestPage::evaluate(const std::string& script)
{
    _evaluated.push_back(script);
    return _evaluator ? _evaluator(script) : PageValue();
}

PageValue TestPage::invoke(PageHandle handle, const std::string& method, const std::vector<PageValue>& args)
{
    PageObject& object = existing(handle);
    auto found = object.methods.find(method);
    if (found == object.methods.end() || !found->second)
        throw host::PageScriptError(method + " is not a function");
    // A copy: the method may change the object's methods, or drop the object.
    PageObject::Method body = found->second;
    return body(args);
}

PageValue TestPage::invokeDefault(PageHandle handle, const std::vector<PageValue>& args)
{
    PageObject& object = existing(handle);
    std::vector<PageValue> kept;
    for (const PageValue& arg : args)
        kept.push_back(hold(arg));
    object.calls.push_back(std::move(kept));
    PageObject::Method body = object.call;
    return body ? body(args) : PageValue();
}

PageValue TestPage::getProperty(PageHandle handle, const std::string& name)
{
    PageObject& object = existing(handle);
    auto found = object.properties.find(name);
    if (found == object.properties.end())
        return PageValue(); // script reads a missing property as undefined
    // A page object read out carries a reference; a plug-in object is only lent.
    if (found->second.type() == PageValue::Type::PageObject)
        retain(found->second.asPageObject());
    return found->second;
}

void TestPage::setProperty(PageHandle handle, const std::string& name, const PageValue& value)
{
    setProperty(existing(handle), name, value);
}

bool TestPage::hasMethod(PageHandle handle, const std::string& name)
{
    return existing(handle).methods.count(name) > 0;
}

bool TestPage::hasProperty(PageHandle handle, const std::string& name)
{
    return existing(handle).properties.count(name) > 0;
}

void TestPage::release(PageHandle handle) noexcept
{
    auto found = _objects.find(handle);
    if (found == _objects.end() || --found->second->references > 0)
        return;
    // Out of the table before its values go: dropping them may release this handle's neighbours.
    std::unique_ptr<Record> gone = std::move(found->second);
    _objects.erase(found);
    for (auto& property : gone->object.properties)
        drop(property.second);
    for (auto& call : gone->object.calls)
        for (const PageValue& arg : call)
            drop(arg);
}

} // namespace veltra::test
