#pragma once

#include "com/ComDispatchTypes.h"
#include "scripting/JSAPI.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace FB::Com {

/// A scriptable object of the plug-in as a dispatch object, the way a script host without NPAPI reaches
/// it: names become dispatch identifiers, invocations are forwarded to the JSAPI with converted arguments,
/// and the bridge answers "attachEvent", "detachEvent" and "getLastException" itself, before the object's
/// own members.
///
/// Script errors come back as DISP_E_EXCEPTION, and their message is kept for "getLastException" (until
/// the next error; a success does not clear it). The bridge holds the JSAPI alive while it is referenced.
/// Any thread; the JSAPI itself expects its calls on the browser thread.
class DispatchBridge final : public IDispatchEx
{
public:
    /// Identifiers of the bridge's own members; the object's members get identifiers from
    /// kFirstMemberId on, in the order they are first asked for, and keep them for the bridge's life.
    static constexpr DispId kAttachEventId = 1;
    static constexpr DispId kDetachEventId = 2;
    static constexpr DispId kGetLastExceptionId = 3;
    static constexpr DispId kFirstMemberId = 1000;

    /// The bridge of `api` with one reference for the caller: the same bridge for as long as any reference
    /// to it lives, so that the host sees one object per scriptable object. Null for a null `api`.
    static DispatchBridge* wrap(const JSAPIPtr& api);
    /// The scriptable object behind `object` when it is one of these bridges; null otherwise.
    static JSAPIPtr apiOf(IDispatch* object);
    /// Bridges alive in the process: their code is the library's, so it may not be unloaded while any is.
    static std::size_t alive();

    DispatchBridge(const DispatchBridge&) = delete;
    DispatchBridge& operator=(const DispatchBridge&) = delete;

    /// Answers IUnknown, IDispatch and IDispatchEx.
    HResult QueryInterface(const Guid& iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    /// Every method and property name of the object gets an identifier (with page-defined attributes
    /// allowed that is any name but the reserved ones); the empty name is DISPID_VALUE. On an invalidated
    /// object every name gets one, so that the call arrives and can report why it fails.
    HResult GetDispID(const std::string& name, DispId* id) override;
    HResult GetDispID(const std::string& name, std::uint32_t flags, DispId* id) override;
    HResult GetMemberName(DispId id, std::string* name) override;
    /// Lists the object's own members (getMemberNames), not the bridge's.
    HResult GetNextDispID(std::uint32_t flags, DispId id, DispId* next) override;
    /// METHOD calls the method (or the default method "" for DISPID_VALUE); PROPERTYGET reads the property
    /// (for DISPID_VALUE: "value"); with both flags a method name is called and any other read;
    /// PROPERTYPUT or PROPERTYPUTREF writes the one argument. Unknown identifier: DISP_E_MEMBERNOTFOUND; no
    /// flag: E_INVALIDARG; a write without exactly one argument: DISP_E_BADPARAMCOUNT.
    HResult Invoke(DispId id, std::uint16_t flags, const std::vector<ComVariant>& args, ComVariant* result) override;

    /// The message of the most recent script error raised through this bridge; "" when none.
    std::string lastException() const;

private:
    explicit DispatchBridge(JSAPIPtr api);
    ~DispatchBridge();

    bool addRefIfAlive();
    bool memberName(DispId id, std::string& name) const;
    std::vector<std::string> memberNames() const;
    void handleEvent(bool attach, const std::vector<ComVariant>& args);
    ComVariant invokeMember(DispId id, std::uint16_t flags, const std::vector<ComVariant>& args);
    void remember(const std::string& message);

    const JSAPIPtr _api;
    std::atomic<std::uint32_t> _references{1};

    mutable std::mutex _mutex; // guards the members below
    std::map<std::string, DispId> _ids;
    std::vector<std::string> _names; // index: identifier - kFirstMemberId
    std::string _lastException;
};

} // namespace FB::Com
