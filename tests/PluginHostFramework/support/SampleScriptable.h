#pragma once

#include "scripting/JSAPIAuto.h"

#include <sstream>
#include <string>

namespace veltra::test {

/// A scriptable object with the members every bridge test reaches: methods with a variant, typed and
/// several arguments, read-write and read-only properties, and an event. Tests add their own members.
class SampleScriptable : public FB::JSAPIAuto
{
public:
    SampleScriptable()
    {
        addMethod("echo", FB::make_method(this, &SampleScriptable::echo));
        addMethod("add", FB::make_method(this, &SampleScriptable::add));
        addMethod("describe", FB::make_method(this, &SampleScriptable::describe));
        addProperty("testString", FB::make_getter(this, &SampleScriptable::text),
                    FB::make_setter(this, &SampleScriptable::setText));
        addProperty("number", FB::make_getter(this, &SampleScriptable::number),
                    FB::make_setter(this, &SampleScriptable::setNumber));
        addProperty("version", [] { return FB::variant("1.0.0.0"); });
        addEvent("onfired");
    }

    FB::variant echo(const FB::variant& value) { return value; }
    int add(int a, int b)
    {
        ++calls;
        return a + b;
    }
    std::string describe(const std::string& name, double value, bool flag)
    {
        std::ostringstream out;
        out << name << ':' << value << ':' << flag;
        return out.str();
    }
    std::string text() const { return _text; }
    void setText(const std::string& text) { _text = text; }
    int number() const { return _number; }
    void setNumber(int number) { _number = number; }

    /// Calls that reached a method's code (not those refused for their arguments).
    int calls = 0;

private:
    std::string _text;
    int _number = 0;
};

} // namespace veltra::test
