#pragma once

// The dispatch side of our component layer: how a script host reaches an object by member name. Windows
// reaches the plug-in's scripting object this way (IDispatchEx); on Linux the same calls go through these
// types, with the Windows numbers for identifiers, flags and results so that callers read the same values.
//
// Differences from the Windows interface, kept on purpose: names and strings are UTF-8 std::string (no
// BSTR), arguments are passed in call order (Windows passes them last first), there are no named arguments
// (a property write takes its value as the one argument) and no locale or exception-info parameters (the
// bridge answers "getLastException" instead).

#include "com/ComTypes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace FB::Com {

using DispId = std::int32_t;

/// The object's default member: calling the object itself, and how event handlers are called.
constexpr DispId DISPID_VALUE = 0;
constexpr DispId DISPID_UNKNOWN = -1;

/// Invoke flags; a script host may combine METHOD and PROPERTYGET when it cannot tell which is meant.
constexpr std::uint16_t DISPATCH_METHOD = 1;
constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr std::uint16_t DISPATCH_PROPERTYPUTREF = 8;

constexpr HResult DISP_E_MEMBERNOTFOUND = static_cast<HResult>(0x80020003u);
constexpr HResult DISP_E_TYPEMISMATCH = static_cast<HResult>(0x80020005u);
constexpr HResult DISP_E_UNKNOWNNAME = static_cast<HResult>(0x80020006u);
constexpr HResult DISP_E_EXCEPTION = static_cast<HResult>(0x80020009u);
constexpr HResult DISP_E_BADPARAMCOUNT = static_cast<HResult>(0x8002000Eu);

constexpr Guid IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

class ComVariant;

/// An object reached by member name. Any thread, unless the object says otherwise.
class IDispatch : public IUnknown
{
public:
    /// The identifier of `name` (compared with case), or DISP_E_UNKNOWNNAME with `*id` = DISPID_UNKNOWN.
    virtual HResult GetDispID(const std::string& name, DispId* id) = 0;
    /// Calls, reads or writes the member `id` with `args` in call order; `result` may be null when the
    /// caller wants none.
    virtual HResult Invoke(DispId id, std::uint16_t flags, const std::vector<ComVariant>& args, ComVariant* result) = 0;

protected:
    ~IDispatch() = default;
};

/// IDispatchEx's name flags: how GetDispID compares names.
constexpr std::uint32_t fdexNameCaseSensitive = 0x1;
constexpr std::uint32_t fdexNameCaseInsensitive = 0x8;
/// Where GetNextDispID starts.
constexpr DispId DISPID_STARTENUM = -2;

/// A dispatch object that script hosts may also ask by name without case, and whose members they may
/// enumerate (for ... in). Of the Windows interface it offers the name lookup with flags, member names and
/// enumeration; InvokeEx, member deletion and member properties are left out, Invoke serving for calls.
class IDispatchEx : public IDispatch
{
public:
    using IDispatch::GetDispID;
    /// With fdexNameCaseInsensitive the member whose name equals `name` without regard to ASCII case (an exact
    /// match first, then the first in member order); otherwise as GetDispID(name, id).
    virtual HResult GetDispID(const std::string& name, std::uint32_t flags, DispId* id) = 0;
    /// The name of the member `id`; DISP_E_UNKNOWNNAME for an identifier never handed out.
    virtual HResult GetMemberName(DispId id, std::string* name) = 0;
    /// The member after `id` (DISPID_STARTENUM: the first), in the object's member order; S_FALSE with
    /// DISPID_UNKNOWN after the last. `flags` is accepted and not used: every member is listed.
    virtual HResult GetNextDispID(std::uint32_t flags, DispId id, DispId* next) = 0;

protected:
    ~IDispatchEx() = default;
};

/// Holds one reference to a dispatch object and gives it back when destroyed.
class DispatchRef
{
public:
    DispatchRef() = default;
    /// Adds a reference to `object` (null allowed).
    explicit DispatchRef(IDispatch* object) : _object(object)
    {
        if (_object)
            _object->AddRef();
    }
    /// Takes over a reference the caller already holds.
    static DispatchRef adopt(IDispatch* object)
    {
        DispatchRef ref;
        ref._object = object;
        return ref;
    }
    DispatchRef(const DispatchRef& other) : DispatchRef(other._object) {}
    DispatchRef(DispatchRef&& other) noexcept : _object(std::exchange(other._object, nullptr)) {}
    DispatchRef& operator=(DispatchRef other) noexcept
    {
        std::swap(_object, other._object);
        return *this;
    }
    ~DispatchRef()
    {
        if (_object)
            _object->Release();
    }

    IDispatch* get() const { return _object; }
    IDispatch* operator->() const { return _object; }
    explicit operator bool() const { return _object != nullptr; }

private:
    IDispatch* _object = nullptr;
};

} // namespace FB::Com
