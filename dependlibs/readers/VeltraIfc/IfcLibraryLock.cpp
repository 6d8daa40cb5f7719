#include <VeltraIfc/IfcLibraryLock.h>

namespace veltra::ifc {

std::mutex& ifcLibraryLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace veltra::ifc
