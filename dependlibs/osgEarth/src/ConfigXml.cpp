// Config <-> XML, the form earth files take. Parsing uses the XML parser that ships inside Boost.PropertyTree
// directly, because the property-tree front end cannot ask it to check that closing tags match.
#include <osgEarth/Config>

#include <boost/property_tree/detail/rapidxml.hpp>
#include <osg/Notify>

#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

namespace osgEarth {

namespace {

namespace rapidxml = boost::property_tree::detail::rapidxml;

// Earth files nest a handful of levels; the parser recurses per level, so a hostile document could otherwise
// exhaust the stack.
constexpr int kMaxElementDepth = 256;

// A conservative pre-scan of element nesting. It skips comments, CDATA, processing instructions, declarations and
// quoted attribute values so that their contents are not taken for tags.
bool nestsTooDeep(const std::string& text)
{
    int depth = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipPast = [&](std::size_t from, const char* terminator) {
        std::size_t end = text.find(terminator, from);
        return end == std::string::npos ? n : end + std::char_traits<char>::length(terminator);
    };
    while (i < n)
    {
        if (text[i] != '<')
        {
            ++i;
            continue;
        }
        if (text.compare(i, 4, "<!--") == 0)
        {
            i = skipPast(i + 4, "-->");
        }
        else if (text.compare(i, 9, "<![CDATA[") == 0)
        {
            i = skipPast(i + 9, "]]>");
        }
        else if (text.compare(i, 2, "<?") == 0)
        {
            i = skipPast(i + 2, "?>");
        }
        else if (text.compare(i, 2, "<!") == 0)
        {
            int brackets = 0;
            for (++i; i < n && !(text[i] == '>' && brackets == 0); ++i)
            {
                brackets += text[i] == '[' ? 1 : (text[i] == ']' ? -1 : 0);
            }
            ++i;
        }
        else if (text.compare(i, 2, "</") == 0)
        {
            --depth;
            i = skipPast(i + 2, ">");
        }
        else
        {
            char quote = 0;
            std::size_t j = i + 1;
            for (; j < n; ++j)
            {
                if (quote)
                {
                    quote = text[j] == quote ? 0 : quote;
                }
                else if (text[j] == '"' || text[j] == '\'')
                {
                    quote = text[j];
                }
                else if (text[j] == '>')
                {
                    break;
                }
            }
            const bool selfClosing = j < n && text[j - 1] == '/';
            if (!selfClosing && ++depth > kMaxElementDepth)
            {
                return true;
            }
            i = j + 1;
        }
    }
    return false;
}

std::string nodeName(const rapidxml::xml_base<char>* node)
{
    return toLower(std::string(node->name(), node->name_size()));
}

Config elementToConfig(const rapidxml::xml_node<char>* element)
{
    Config conf(nodeName(element));

    // Attributes first and alphabetically, as an ordered map of attributes would give them.
    std::vector<std::pair<std::string, std::string>> attributes;
    for (auto* a = element->first_attribute(); a; a = a->next_attribute())
    {
        attributes.emplace_back(nodeName(a), std::string(a->value(), a->value_size()));
    }
    std::stable_sort(attributes.begin(), attributes.end(),
                     [](const auto& lhs, const auto& rhs) { return lhs.first < rhs.first; });
    for (const auto& [name, value] : attributes)
    {
        conf.add(name, value);
    }

    std::string text;
    for (auto* node = element->first_node(); node; node = node->next_sibling())
    {
        switch (node->type())
        {
        case rapidxml::node_element: conf.add(elementToConfig(node)); break;
        case rapidxml::node_data:
        case rapidxml::node_cdata: text.append(node->value(), node->value_size()); break;
        default: break;
        }
    }
    conf.value() = trim(text);
    return conf;
}

bool parseXml(std::istream& in, Config& document, std::string& error)
{
    if (!in)
    {
        error = "the stream cannot be read";
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
    {
        error = "reading the stream failed";
        return false;
    }
    if (nestsTooDeep(text))
    {
        error = "elements nest more than " + std::to_string(kMaxElementDepth) + " levels deep";
        return false;
    }

    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    // The document embeds a large memory pool, too big for the stack.
    auto xml = std::make_unique<rapidxml::xml_document<char>>();
    try
    {
        xml->parse<rapidxml::parse_validate_closing_tags>(buffer.data());
    }
    catch (const rapidxml::parse_error& e)
    {
        const long line = static_cast<long>(std::count(buffer.data(), e.where<char>(), '\n')) + 1;
        error = std::string(e.what()) + " at line " + std::to_string(line);
        return false;
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }

    int roots = 0;
    for (auto* node = xml->first_node(); node; node = node->next_sibling())
    {
        if (node->type() == rapidxml::node_element)
        {
            ++roots;
            document.add(elementToConfig(node));
        }
        else if (node->type() == rapidxml::node_data && !trim(std::string(node->value(), node->value_size())).empty())
        {
            error = "text outside the root element";
            return false;
        }
    }
    if (roots != 1)
    {
        error = roots == 0 ? "no root element" : "more than one root element";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------

bool isXmlNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool isXmlName(const std::string& name)
{
    if (name.empty() || !isXmlNameStart(static_cast<unsigned char>(name[0])))
    {
        return false;
    }
    return std::all_of(name.begin() + 1, name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return isXmlNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

std::string escapeXml(const std::string& text, bool inAttribute)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
    {
        switch (c)
        {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += inAttribute ? "&quot;" : "\""; break;
        case '\n': out += inAttribute ? "&#10;" : "\n"; break;
        case '\t': out += inAttribute ? "&#9;" : "\t"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

void writeElement(const Config& conf, int depth, std::ostream& out)
{
    const std::string indent(static_cast<std::size_t>(depth) * 4, ' ');
    out << indent << '<' << conf.key();

    // A simple child becomes an attribute unless its key is already taken by an earlier one; later duplicates
    // stay elements so that nothing is lost.
    std::vector<const Config*> elements;
    std::vector<std::string> attributeNames;
    for (const Config& c : conf.children())
    {
        if (!isXmlName(c.key()))
        {
            OSG_INFO << "[Config] Leaving out of XML the key \"" << c.key() << "\", not an XML name" << std::endl;
            continue;
        }
        const bool taken = std::find(attributeNames.begin(), attributeNames.end(), c.key()) != attributeNames.end();
        if (c.isSimple() && !taken)
        {
            attributeNames.push_back(c.key());
            out << ' ' << c.key() << "=\"" << escapeXml(c.value(), true) << '"';
        }
        else
        {
            elements.push_back(&c);
        }
    }

    if (elements.empty() && conf.value().empty())
    {
        out << "/>\n";
        return;
    }
    out << '>' << escapeXml(conf.value(), false);
    if (elements.empty())
    {
        out << "</" << conf.key() << ">\n";
        return;
    }
    out << '\n';
    for (const Config* c : elements)
    {
        writeElement(*c, depth + 1, out);
    }
    out << indent << "</" << conf.key() << ">\n";
}

} // namespace

bool Config::fromXML(std::istream& in, std::string& error)
{
    Config document;
    document._referrer = _referrer;
    if (!parseXml(in, document, error))
    {
        return false;
    }
    *this = std::move(document);
    return true;
}

bool Config::fromXML(std::istream& in)
{
    std::string error;
    if (!fromXML(in, error))
    {
        OSG_WARN << "[Config] Cannot read XML: " << error << std::endl;
        return false;
    }
    return true;
}

std::string Config::toXML() const
{
    std::ostringstream out;
    if (!_key.empty())
    {
        if (isXmlName(_key))
        {
            writeElement(*this, 0, out);
        }
        return out.str();
    }
    for (const Config& c : _children)
    {
        if (isXmlName(c.key()))
        {
            writeElement(c, 0, out);
        }
    }
    return out.str();
}

} // namespace osgEarth
