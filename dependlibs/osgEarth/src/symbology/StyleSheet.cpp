#include <osgEarthSymbology/StyleSheet>

#include <osgEarth/StringUtils>

#include <osg/Notify>

namespace osgEarth {
namespace Symbology {

namespace {

// Comments would otherwise end up inside property values; an unterminated one runs to the end.
std::string stripComments(const std::string& css)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < css.size())
    {
        const std::size_t open = css.find("/*", pos);
        if (open == std::string::npos)
        {
            out.append(css, pos, std::string::npos);
            break;
        }
        out.append(css, pos, open - pos);
        const std::size_t close = css.find("*/", open + 2);
        pos = close == std::string::npos ? css.size() : close + 2;
    }
    return out;
}

// Splits `prop: value; ...` into children of `block`. Semicolons inside quotes belong to the value, since
// expressions quote literal text.
void parseDeclarations(const std::string& body, Config& block)
{
    std::size_t start = 0;
    char quote = 0;
    for (std::size_t i = 0; i <= body.size(); ++i)
    {
        const char c = i < body.size() ? body[i] : ';';
        if (quote)
        {
            quote = (c == quote) ? 0 : quote;
            if (i < body.size())
            {
                continue;
            }
        }
        else if (c == '"' || c == '\'')
        {
            quote = c;
            continue;
        }
        if (c != ';')
        {
            continue;
        }
        const std::string declaration = body.substr(start, i - start);
        start = i + 1;
        const std::size_t colon = declaration.find(':');
        if (colon == std::string::npos)
        {
            continue;
        }
        const std::string name = trim(declaration.substr(0, colon));
        if (!name.empty())
        {
            block.add(name, trim(declaration.substr(colon + 1)));
        }
    }
}

void addBlock(const std::string& selectors, const std::string& body, const std::string& referrer,
              StyleSheet::StyleMap& into)
{
    Config block;
    block.setReferrer(referrer);
    parseDeclarations(body, block);
    std::size_t pos = 0;
    do
    {
        std::size_t comma = selectors.find(',', pos);
        if (comma == std::string::npos)
        {
            comma = selectors.size();
        }
        std::string name = trim(selectors.substr(pos, comma - pos));
        pos = comma + 1;
        if (name.empty())
        {
            // Only a block with no selector at all is the default; an empty slot in a list is a typo.
            if (!trim(selectors).empty())
            {
                continue;
            }
            name = "default";
        }
        block.key() = name;
        Style style;
        style.fromSLD(block);
        into[name] = style;
    } while (pos <= selectors.size());
}

} // namespace

StyleSheet::StyleSheet(const Config& conf)
{
    mergeConfig(conf);
}

void StyleSheet::addStyle(const Style& style)
{
    _styles[style.getName()] = style;
}

void StyleSheet::removeStyle(const std::string& name)
{
    _styles.erase(name);
}

Style* StyleSheet::getStyle(const std::string& name, bool fallBackOnDefault)
{
    // The lookup is the const one's; only the fallback differs, as it may create the default style.
    if (const Style* found = static_cast<const StyleSheet*>(this)->getStyle(name, false))
    {
        return const_cast<Style*>(found);
    }
    return fallBackOnDefault ? getDefaultStyle() : nullptr;
}

const Style* StyleSheet::getStyle(const std::string& name, bool fallBackOnDefault) const
{
    auto found = _styles.find(name);
    if (found == _styles.end() && startsWith(name, "#"))
    {
        found = _styles.find(name.substr(1));
    }
    if (found != _styles.end())
    {
        return &found->second;
    }
    return fallBackOnDefault ? getDefaultStyle() : nullptr;
}

const Style* StyleSheet::getDefaultStyle() const
{
    for (const char* name : {"default", ""})
    {
        auto found = _styles.find(name);
        if (found != _styles.end())
        {
            return &found->second;
        }
    }
    return _styles.empty() ? nullptr : &_styles.begin()->second;
}

Style* StyleSheet::getDefaultStyle()
{
    if (_styles.empty())
    {
        _styles.emplace("default", Style("default"));
    }
    return const_cast<Style*>(static_cast<const StyleSheet*>(this)->getDefaultStyle());
}

Config StyleSheet::getConfig() const
{
    Config conf("styles");
    for (const auto& entry : _styles)
    {
        conf.add(entry.second.getConfig());
    }
    for (const ConfigSet* group : {&_selectors, &_libraries, &_scripts})
    {
        for (const Config& child : *group)
        {
            conf.add(child);
        }
    }
    return conf;
}

void StyleSheet::mergeConfig(const Config& conf)
{
    for (const Config& child : conf.children())
    {
        if (child.key() == "style")
        {
            if (toLower(child.value("type")) == "text/css")
            {
                parseCSS(child.value(), _styles, child.referrer().empty() ? conf.referrer() : child.referrer());
            }
            else if (child.hasValue("url"))
            {
                // Fetching remote style sheets is not supported; say so rather than silently drawing defaults.
                OSG_NOTICE << "[StyleSheet] style sheets by URL are not read: " << child.value("url") << std::endl;
            }
            else
            {
                addStyle(Style(child));
            }
        }
        else if (child.key() == "selector" || child.key() == "class")
        {
            _selectors.push_back(child);
        }
        else if (child.key() == "library")
        {
            _libraries.push_back(child);
        }
        else if (child.key() == "script")
        {
            _scripts.push_back(child);
        }
    }
}

unsigned StyleSheet::parseCSS(const std::string& css, StyleMap& into, const std::string& referrer)
{
    const std::string text = stripComments(css);
    if (text.find('{') == std::string::npos)
    {
        if (trim(text).empty())
        {
            return 0;
        }
        addBlock("default", text, referrer, into);
        return 1;
    }
    unsigned blocks = 0;
    std::size_t pos = 0;
    for (;;)
    {
        const std::size_t open = text.find('{', pos);
        if (open == std::string::npos)
        {
            break;
        }
        std::size_t close = text.find('}', open + 1);
        if (close == std::string::npos)
        {
            close = text.size();
        }
        // A stray closing brace before the selector is not part of the name.
        std::string selector = text.substr(pos, open - pos);
        const std::size_t stray = selector.rfind('}');
        if (stray != std::string::npos)
        {
            selector.erase(0, stray + 1);
        }
        addBlock(selector, text.substr(open + 1, close - open - 1), referrer, into);
        ++blocks;
        pos = close + 1;
        if (pos >= text.size())
        {
            break;
        }
    }
    return blocks;
}

} // namespace Symbology
} // namespace osgEarth
