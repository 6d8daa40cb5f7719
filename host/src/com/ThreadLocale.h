#pragma once

#include <clocale>
#include <cstdint>

#include <locale.h>

namespace FB::Com {

/// The locale identifier of the calling thread as the registration code sees it (Linux threads carry none of their
/// own): 0x0400, the user's default, until something sets another.
std::uint32_t threadLocale();
void setThreadLocale(std::uint32_t locale);

/// The neutral default locale identifier (2048) registration runs under.
constexpr std::uint32_t kNeutralLocale = 0x0800;

/// For its lifetime, the calling thread's locale identifier is the neutral default and its C locale is "C"
/// (uselocale), so that no user locale changes how names and numbers are written; both come back afterwards.
/// One thread; not copyable.
class ScopedNeutralThreadLocale
{
public:
    ScopedNeutralThreadLocale();
    ~ScopedNeutralThreadLocale();
    ScopedNeutralThreadLocale(const ScopedNeutralThreadLocale&) = delete;
    ScopedNeutralThreadLocale& operator=(const ScopedNeutralThreadLocale&) = delete;

private:
    std::uint32_t _previousId;
    locale_t _cLocale;
    locale_t _previousLocale = nullptr;
};

} // namespace FB::Com
