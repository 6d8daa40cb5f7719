#include "Schedule.h"

namespace veltra::schedule {

void Schedule::bind(std::size_t index, int elementId)
{
    if (_bound.emplace(index, elementId).second)
        tasks[index].elements.push_back(elementId);
}

} // namespace veltra::schedule
