#include "RegistryStatus.h"

namespace FB::registry {

const char* resultName(Result result)
{
    switch (result)
    {
    case Result::Ok: return "ok";
    case Result::NotFound: return "not-found";
    case Result::InvalidName: return "invalid-name";
    case Result::InvalidData: return "invalid-data";
    case Result::TypeMismatch: return "type-mismatch";
    case Result::KeyHasSubkeys: return "key-has-subkeys";
    case Result::StoreDamaged: return "store-damaged";
    case Result::StoreUnavailable: return "store-unavailable";
    case Result::ScriptSyntax: return "script-syntax";
    case Result::UnknownSubstitution: return "unknown-substitution";
    }
    return "unknown";
}

} // namespace FB::registry
