#include "com/ThreadLocale.h"

namespace FB::Com {
namespace {

thread_local std::uint32_t t_threadLocale = 0x0400;

} // namespace

std::uint32_t threadLocale()
{
    return t_threadLocale;
}

void setThreadLocale(std::uint32_t locale)
{
    t_threadLocale = locale;
}

ScopedNeutralThreadLocale::ScopedNeutralThreadLocale()
    : _previousId(t_threadLocale), _cLocale(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr)))
{
    t_threadLocale = kNeutralLocale;
    // Without a locale object the thread keeps its own: only the identifier changes.
    if (_cLocale)
        _previousLocale = uselocale(_cLocale);
}

ScopedNeutralThreadLocale::~ScopedNeutralThreadLocale()
{
    if (_cLocale)
    {
        uselocale(_previousLocale);
        freelocale(_cLocale);
    }
    t_threadLocale = _previousId;
}

} // namespace FB::Com
