#include "browser/Identifiers.h"

#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace veltra::host::identifiers {
namespace {

struct Identifier
{
    bool isString;
    std::string name;
    std::int32_t number;
};

struct Table
{
    std::mutex lock; // guards everything below
    std::map<std::string, std::unique_ptr<Identifier>> strings;
    std::map<std::int32_t, std::unique_ptr<Identifier>> numbers;
    // Lets a stray pointer from a plug-in be refused instead of read.
    std::unordered_set<const void*> known;
};

Table& table()
{
    static Table* instance = new Table(); // never destroyed: plug-in threads may still ask at exit
    return *instance;
}

// Reads an identifier that the caller has checked under the lock; identifiers never change once made.
const Identifier* lookup(NPIdentifier id)
{
    Table& all = table();
    std::lock_guard<std::mutex> guard(all.lock);
    return all.known.count(id) ? static_cast<const Identifier*>(id) : nullptr;
}

} // namespace

NPIdentifier fromString(const char* text)
{
    if (!text)
        return nullptr;
    Table& all = table();
    std::lock_guard<std::mutex> guard(all.lock);
    std::unique_ptr<Identifier>& slot = all.strings[text];
    if (!slot)
    {
        slot = std::make_unique<Identifier>(Identifier{true, text, 0});
        all.known.insert(slot.get());
    }
    return slot.get();
}

NPIdentifier fromInt(std::int32_t value)
{
    Table& all = table();
    std::lock_guard<std::mutex> guard(all.lock);
    std::unique_ptr<Identifier>& slot = all.numbers[value];
    if (!slot)
    {
        slot = std::make_unique<Identifier>(Identifier{false, {}, value});
        all.known.insert(slot.get());
    }
    return slot.get();
}

bool isKnown(NPIdentifier id)
{
    return lookup(id) != nullptr;
}

bool isString(NPIdentifier id)
{
    const Identifier* identifier = lookup(id);
    return identifier && identifier->isString;
}

std::optional<std::string> name(NPIdentifier id)
{
    const Identifier* identifier = lookup(id);
    if (!identifier || !identifier->isString)
        return std::nullopt;
    return identifier->name;
}

std::optional<std::int32_t> number(NPIdentifier id)
{
    const Identifier* identifier = lookup(id);
    if (!identifier || identifier->isString)
        return std::nullopt;
    return identifier->number;
}

std::string propertyName(NPIdentifier id)
{
    const Identifier* identifier = lookup(id);
    if (!identifier)
        return {};
    return identifier->isString ? identifier->name : std::to_string(identifier->number);
}

} // namespace veltra::host::identifiers
