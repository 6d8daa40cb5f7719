#pragma once

// The least of the component object model that the plug-in's class factory needs on Linux: result codes,
// identifiers and the two interfaces a host reaches a class factory through. Layouts follow the Windows ones
// (results are signed 32-bit numbers, failures negative; the interfaces put QueryInterface, AddRef and Release
// first), so that a caller written for the Windows exports reads the same numbers here.

#include <cstdint>
#include <string>

namespace FB::Com {

using HResult = std::int32_t;

constexpr HResult S_OK = 0;
constexpr HResult S_FALSE = 1;
constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
constexpr HResult E_POINTER = static_cast<HResult>(0x80004003u);
constexpr HResult E_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
constexpr HResult E_INVALIDARG = static_cast<HResult>(0x80070057u);
constexpr HResult CLASS_E_NOAGGREGATION = static_cast<HResult>(0x80040110u);
constexpr HResult CLASS_E_CLASSNOTAVAILABLE = static_cast<HResult>(0x80040111u);

constexpr bool failed(HResult result)
{
    return result < 0;
}

/// A class or interface identifier, laid out as the Windows GUID.
struct Guid
{
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    /// Reads "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (either case); false leaves `guid` as it was.
    static bool parse(const std::string& text, Guid& guid);
    /// The braced form in lower case.
    std::string toString() const;
};

static_assert(sizeof(Guid) == 16, "a Guid is passed by address to callers that expect the Windows layout");

bool operator==(const Guid& a, const Guid& b);
inline bool operator!=(const Guid& a, const Guid& b)
{
    return !(a == b);
}

constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// The base of every object handed out: reference counted, asked for its other interfaces by identifier. The
/// method names are the model's own, since callers written against it expect them. Any thread.
class IUnknown
{
public:
    /// Sets `*out` to the interface `iid` (one reference added) or to null with E_NOINTERFACE.
    virtual HResult QueryInterface(const Guid& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    /// The object is deleted when the count reaches 0; returns the count left.
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

/// Makes the objects of one class and keeps the module loaded on request.
class IClassFactory : public IUnknown
{
public:
    /// A new object, asked for `iid`; `outer` must be null (no aggregation).
    virtual HResult CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
    /// Counts (true) or uncounts (false) a lock that keeps DllCanUnloadNow answering S_FALSE.
    virtual HResult LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

} // namespace FB::Com
