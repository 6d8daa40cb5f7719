#include "PostIDCallback.h"

#include "Veltra.h"

#include <string>

bool PostIDCallback::response(int id)
{
    _owner->setPendingScript("getAttr('" + std::to_string(id) + "')");
    return true;
}
