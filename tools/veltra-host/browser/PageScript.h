#pragma once

#include "browser/PageValue.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace veltra::host {

/// What the page threw, or why a page call could not be made.
class PageScriptError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The page an instance lives in, as the host reaches it. The host calls it on the browser thread
/// only. A call the page rejects throws (PageScriptError or any std::exception): the plug-in then
/// sees its NPN_ call fail.
class PageScript
{
public:
    virtual ~PageScript() = default;

    /// The page's window object; each call hands over one reference.
    virtual PageHandle window() = 0;
    virtual PageValue evaluate(const std::string& script) = 0;
    virtual PageValue invoke(PageHandle object, const std::string& method, const std::vector<PageValue>& args) = 0;
    virtual PageValue invokeDefault(PageHandle object, const std::vector<PageValue>& args) = 0;
    /// A missing property reads as void, as in script.
    virtual PageValue getProperty(PageHandle object, const std::string& name) = 0;
    virtual void setProperty(PageHandle object, const std::string& name, const PageValue& value) = 0;
    virtual bool hasMethod(PageHandle object, const std::string& name) = 0;
    virtual bool hasProperty(PageHandle object, const std::string& name) = 0;
    /// Gives back one reference the host held; must not throw.
    virtual void release(PageHandle object) noexcept = 0;
};

} // namespace veltra::host
