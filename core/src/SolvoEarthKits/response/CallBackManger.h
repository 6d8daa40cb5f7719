#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/response/CallBack.h>

#include <vector>

/// The listeners of a reporting class, which inherits this list and walks it when it has
/// something to tell. The list does not own its listeners: whoever adds one keeps it alive and
/// removes it before letting it go. No lock: add, remove and tell on the thread that runs the
/// viewer's event traversal, or while no frame runs. A copy lists the same listeners.
class SOLVOEARTHKITS_EXPORT CallBackManger
{
public:
    CallBackManger() = default;
    CallBackManger(const CallBackManger&) = default;
    CallBackManger& operator=(const CallBackManger&) = default;
    /// Virtual, so that a reporter destroyed through this base is destroyed whole.
    virtual ~CallBackManger() = default;

    /// Appends `cb` (null is ignored). Adding a listener twice makes it hear everything twice.
    virtual void addCallBack(CallBack* cb);
    /// Removes every occurrence of `cb` (null, or a listener not in the list, changes nothing).
    virtual void removeCallBack(CallBack* cb);

protected:
    std::vector<CallBack*> _callBacks; // in the order added; not owned
};
