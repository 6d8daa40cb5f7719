#include <osgEarthSymbology/Style>

#include <osgEarthSymbology/AltitudeSymbol>
#include <osgEarthSymbology/ExtrusionSymbol>
#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/LineSymbol>
#include <osgEarthSymbology/PointSymbol>
#include <osgEarthSymbology/PolygonSymbol>
#include <osgEarthSymbology/TextSymbol>

#include <typeinfo>

namespace osgEarth {
namespace Symbology {

namespace {

// Every symbol kind a style can read; a property or Config child is offered to each in turn.
using SymbolFactory = Symbol* (*)();

template <typename T>
Symbol* create()
{
    return new T();
}

const SymbolFactory Factories[] = {create<PolygonSymbol>,   create<LineSymbol>,     create<PointSymbol>,
                                   create<ExtrusionSymbol>, create<AltitudeSymbol>, create<IconSymbol>,
                                   create<TextSymbol>};

bool sameKind(const Symbol& a, const Symbol& b)
{
    return typeid(a) == typeid(b);
}

Symbol* findKind(const SymbolList& symbols, const std::string& kind)
{
    for (const auto& symbol : symbols)
    {
        if (kind == symbol->kind())
        {
            return symbol.get();
        }
    }
    return nullptr;
}

} // namespace

Style::Style(const std::string& name) : _name(name)
{}

Style::Style(const Config& conf)
{
    mergeConfig(conf);
}

Style::Style(const Style& rhs, const osg::CopyOp& copyOp) : _name(rhs._name)
{
    const bool deep = copyOp.getCopyFlags() != osg::CopyOp::SHALLOW_COPY;
    for (const auto& symbol : rhs._symbols)
    {
        _symbols.push_back(deep ? symbol->clone() : symbol.get());
    }
}

Style& Style::operator=(const Style& rhs)
{
    if (this != &rhs)
    {
        Style copy(rhs);
        _name = std::move(copy._name);
        _symbols = std::move(copy._symbols);
    }
    return *this;
}

void Style::add(Symbol* symbol)
{
    if (!symbol)
    {
        return;
    }
    osg::ref_ptr<Symbol> keep = symbol;
    for (auto& existing : _symbols)
    {
        if (sameKind(*existing, *symbol))
        {
            existing = keep;
            return;
        }
    }
    _symbols.push_back(keep);
}

Style Style::combineWith(const Style& rhs) const
{
    Style output(*this);
    for (const auto& symbol : rhs._symbols)
    {
        Symbol* existing = findKind(output._symbols, symbol->kind());
        if (existing)
        {
            existing->mergeConfig(symbol->getConfig());
        }
        else
        {
            output.add(symbol->clone());
        }
    }
    return output;
}

Config Style::getConfig() const
{
    Config conf("style");
    conf.set("name", _name);
    for (const auto& symbol : _symbols)
    {
        conf.add(symbol->getConfig());
    }
    return conf;
}

void Style::mergeConfig(const Config& conf)
{
    if (conf.hasValue("name"))
    {
        _name = conf.value("name");
    }
    for (const Config& child : conf.children())
    {
        Symbol* target = findKind(_symbols, child.key());
        if (!target)
        {
            for (SymbolFactory factory : Factories)
            {
                osg::ref_ptr<Symbol> fresh = factory();
                if (child.key() == fresh->kind())
                {
                    add(fresh.get());
                    target = fresh.get();
                    break;
                }
            }
        }
        if (target)
        {
            target->mergeConfig(child);
        }
    }
}

void Style::fromSLD(const Config& conf)
{
    setName(conf.key());
    for (const Config& child : conf.children())
    {
        const std::string name = Symbol::normalizeProperty(child.key());
        const std::string value = trim(child.value());
        for (SymbolFactory factory : Factories)
        {
            osg::ref_ptr<Symbol> fresh = factory();
            if (Symbol* existing = findKind(_symbols, fresh->kind()))
            {
                existing->parseProperty(name, value);
            }
            else if (fresh->parseProperty(name, value))
            {
                add(fresh.get());
            }
        }
    }
    // Relative icon paths are meant relative to the file the style came from.
    if (IconSymbol* icon = get<IconSymbol>())
    {
        if (icon->referrer().empty())
        {
            icon->setReferrer(conf.referrer());
        }
    }
}

} // namespace Symbology
} // namespace osgEarth
