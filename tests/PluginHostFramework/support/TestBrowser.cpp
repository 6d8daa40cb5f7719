#include "TestBrowser.h"

#include "browser/Identifiers.h"
#include "browser/VariantConversion.h"

#include <cstring>
#include <stdexcept>

namespace veltra::test {

TestBrowser::TestBrowser(Display* display) : _host(_loop, display)
{
    _link = std::make_shared<host::PageLink>(_page, _loop, &_instance);
    _host.attachInstance(&_instance, _link);
    _asyncCall = funcs()->pluginthreadasynccall;
}

TestBrowser::~TestBrowser()
{
    _host.detachInstance(&_instance);
    _link->detach();
}

NPObject* TestBrowser::object(PageObject* object)
{
    _page.retain(object->handle); // the proxy takes this reference over
    return host::makePageObjectProxy(_host, &_instance, _link, object->handle);
}

PageObject* TestBrowser::pageObject(NPObject* object)
{
    std::optional<PageHandle> handle = host::pageHandleOf(object);
    return handle ? _page.find(*handle) : nullptr;
}

std::size_t TestBrowser::liveObjects() const
{
    // The host keeps the window's proxy from the first request on; it is the browser's, as the window is.
    NPObject* windowProxy = _link->proxyFor(TestPage::windowHandle);
    return _host.liveObjects() - (windowProxy && _host.isLiveObject(windowProxy) ? 1 : 0);
}

const std::string& TestBrowser::lastException()
{
    if (std::optional<std::string> message = host::HostFunctions::takeException())
        _lastException = std::move(*message);
    return _lastException;
}

void TestBrowser::clearException()
{
    host::HostFunctions::clearException();
    _lastException.clear();
}

void TestBrowser::enablePageArrays()
{
    window()->methods["Array"] = [this](const std::vector<PageValue>&) {
        PageObject* array = _page.create(); // its reference goes to the caller with the answer
        PageHandle handle = array->handle;
        array->methods["push"] = [this, handle](const std::vector<PageValue>& args) {
            PageObject* self = _page.find(handle);
            if (self && !args.empty())
                _page.setProperty(*self, std::to_string(self->properties.size()), args[0]);
            return PageValue();
        };
        return PageValue::pageObject(handle);
    };
}

void TestBrowser::setAsyncCallsRefused(bool refused)
{
    funcs()->pluginthreadasynccall = refused ? nullptr : _asyncCall;
}

NPIdentifier TestBrowser::id(const std::string& name)
{
    return host::identifiers::fromString(name.c_str());
}

NPVariant TestBrowser::stringVariant(const std::string& text)
{
    host::HostFunctions* host = host::HostFunctions::current();
    if (!host)
        throw std::logic_error("TestBrowser::stringVariant needs a browser alive");
    auto* chars = static_cast<NPUTF8*>(host->table()->memalloc(static_cast<uint32_t>(text.size())));
    std::memcpy(chars, text.data(), text.size());
    NPVariant value;
    STRINGN_TO_NPVARIANT(chars, text.size(), value);
    return value;
}

std::string TestBrowser::text(const NPVariant& value)
{
    if (!NPVARIANT_IS_STRING(value))
        return {};
    return std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
}

PageValue TestBrowser::pageValue(const NPVariant& value)
{
    return host::toPageValue(value);
}

NPVariant TestBrowser::variant(const PageValue& value)
{
    NPVariant out;
    VOID_TO_NPVARIANT(out);
    // A page object crosses with a reference of its own, which the new proxy takes over.
    if (value.type() == PageValue::Type::PageObject)
        _page.retain(value.asPageObject());
    host::toVariant(_host, _link, value, &out);
    return out;
}

} // namespace veltra::test
