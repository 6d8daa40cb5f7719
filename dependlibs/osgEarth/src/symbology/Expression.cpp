#include <osgEarthSymbology/Expression>

#include <osgEarth/StringUtils>

#include <cmath>
#include <locale>
#include <sstream>

namespace osgEarth {
namespace Symbology {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Deep enough for any hand-written formula; bounds the recursion on hostile input.
constexpr int MaxNesting = 64;

// Recursive descent over the text, evaluating as it goes: expressions are short and evaluated rarely, so no tree
// is kept. Without attributes every variable reads 0, which is how the constructor checks the syntax.
class NumericParser
{
public:
    NumericParser(const std::string& text, const AttributeMap* attributes, std::vector<std::string>* names)
        : _text(text), _attributes(attributes), _names(names)
    {}

    bool run(double& result)
    {
        if (!expression(result))
        {
            return false;
        }
        skipBlanks();
        return _pos == _text.size();
    }

private:
    void skipBlanks()
    {
        while (_pos < _text.size() && isBlank(_text[_pos]))
        {
            ++_pos;
        }
    }

    bool accept(char c)
    {
        skipBlanks();
        if (_pos < _text.size() && _text[_pos] == c)
        {
            ++_pos;
            return true;
        }
        return false;
    }

    bool expression(double& result)
    {
        if (!term(result))
        {
            return false;
        }
        for (;;)
        {
            const bool plus = accept('+');
            if (!plus && !accept('-'))
            {
                return true;
            }
            double rhs = 0.0;
            if (!term(rhs))
            {
                return false;
            }
            result = plus ? result + rhs : result - rhs;
        }
    }

    bool term(double& result)
    {
        if (!factor(result))
        {
            return false;
        }
        for (;;)
        {
            const bool times = accept('*');
            if (!times && !accept('/'))
            {
                return true;
            }
            double rhs = 0.0;
            if (!factor(rhs))
            {
                return false;
            }
            result = times ? result * rhs : result / rhs;
        }
    }

    bool factor(double& result)
    {
        if (++_depth > MaxNesting)
        {
            return false;
        }
        bool ok = false;
        if (accept('-'))
        {
            ok = factor(result);
            result = -result;
        }
        else if (accept('+'))
        {
            ok = factor(result);
        }
        else if (accept('('))
        {
            ok = expression(result) && accept(')');
        }
        else if (accept('['))
        {
            ok = variable(result);
        }
        else
        {
            ok = number(result);
        }
        --_depth;
        return ok;
    }

    bool variable(double& result)
    {
        const std::size_t close = _text.find(']', _pos);
        if (close == std::string::npos)
        {
            return false;
        }
        const std::string name = trim(_text.substr(_pos, close - _pos));
        _pos = close + 1;
        if (name.empty())
        {
            return false;
        }
        if (_names)
        {
            _names->push_back(name);
        }
        result = 0.0;
        if (_attributes)
        {
            auto found = _attributes->find(name);
            if (found != _attributes->end())
            {
                result = as<double>(found->second, 0.0);
            }
        }
        return true;
    }

    bool number(double& result)
    {
        skipBlanks();
        const std::size_t start = _pos;
        std::size_t digits = 0;
        while (_pos < _text.size() && isDigit(_text[_pos]))
        {
            ++_pos;
            ++digits;
        }
        if (_pos < _text.size() && _text[_pos] == '.')
        {
            ++_pos;
            while (_pos < _text.size() && isDigit(_text[_pos]))
            {
                ++_pos;
                ++digits;
            }
        }
        if (digits == 0)
        {
            return false;
        }
        // An exponent only when digits follow, so "2e" is a syntax error rather than a silent 2.
        if (_pos < _text.size() && (_text[_pos] == 'e' || _text[_pos] == 'E'))
        {
            std::size_t mark = _pos + 1;
            if (mark < _text.size() && (_text[mark] == '+' || _text[mark] == '-'))
            {
                ++mark;
            }
            if (mark < _text.size() && isDigit(_text[mark]))
            {
                _pos = mark;
                while (_pos < _text.size() && isDigit(_text[_pos]))
                {
                    ++_pos;
                }
            }
        }
        std::istringstream in(_text.substr(start, _pos - start));
        in.imbue(std::locale::classic());
        in >> result;
        // Overflowing literals ("1e999") fail the extraction; they are not usable numbers either way.
        return !in.fail();
    }

    const std::string& _text;
    const AttributeMap* _attributes;
    std::vector<std::string>* _names;
    std::size_t _pos = 0;
    int _depth = 0;
};

} // namespace

StringExpression::StringExpression(const std::string& expr) : _expr(expr)
{
    const std::size_t n = expr.size();
    std::size_t i = 0;
    while (i < n)
    {
        const char c = expr[i];
        if (isBlank(c) || c == '+')
        {
            ++i;
        }
        else if (c == '"' || c == '\'')
        {
            // An unterminated quote runs to the end: the writer clearly meant text.
            std::size_t close = expr.find(c, i + 1);
            if (close == std::string::npos)
            {
                close = n;
            }
            _parts.push_back({false, expr.substr(i + 1, close - i - 1)});
            i = close + 1;
        }
        else if (c == '[')
        {
            std::size_t close = expr.find(']', i + 1);
            if (close == std::string::npos)
            {
                close = n;
            }
            const std::string name = trim(expr.substr(i + 1, close - i - 1));
            if (!name.empty())
            {
                _parts.push_back({true, name});
            }
            i = close + 1;
        }
        else
        {
            std::size_t end = i;
            while (end < n && !isBlank(expr[end]) && expr[end] != '+' && expr[end] != '"' && expr[end] != '\'' &&
                   expr[end] != '[')
            {
                ++end;
            }
            _parts.push_back({true, expr.substr(i, end - i)});
            i = end;
        }
    }
}

void StringExpression::setLiteral(const std::string& text)
{
    // Quote with whichever mark the text lacks; text holding both cannot be one literal, so the double quotes
    // it contains are dropped from the written form while the evaluated value stays exact.
    const char quote = text.find('"') == std::string::npos ? '"' : (text.find('\'') == std::string::npos ? '\'' : 0);
    if (quote)
    {
        _expr = std::string(1, quote) + text + quote;
    }
    else
    {
        std::string cleaned;
        for (char c : text)
        {
            if (c != '"')
            {
                cleaned += c;
            }
        }
        _expr = "\"" + cleaned + "\"";
    }
    _parts.assign(1, Part{false, text});
}

bool StringExpression::isLiteral() const
{
    for (const Part& part : _parts)
    {
        if (part.attribute)
        {
            return false;
        }
    }
    return true;
}

std::vector<std::string> StringExpression::attributeNames() const
{
    std::vector<std::string> names;
    for (const Part& part : _parts)
    {
        if (part.attribute)
        {
            names.push_back(part.text);
        }
    }
    return names;
}

std::string StringExpression::eval(const AttributeMap& attributes) const
{
    std::string result;
    for (const Part& part : _parts)
    {
        if (!part.attribute)
        {
            result += part.text;
            continue;
        }
        auto found = attributes.find(part.text);
        if (found != attributes.end())
        {
            result += found->second;
        }
    }
    return result;
}

NumericExpression::NumericExpression() : NumericExpression(0.0)
{}

NumericExpression::NumericExpression(const std::string& expr) : _expr(expr), _valid(false)
{
    double ignored = 0.0;
    _valid = NumericParser(_expr, nullptr, nullptr).run(ignored);
}

NumericExpression::NumericExpression(double value) : _expr(toString(value)), _valid(std::isfinite(value))
{}

bool NumericExpression::isConstant() const
{
    return attributeNames().empty();
}

std::vector<std::string> NumericExpression::attributeNames() const
{
    std::vector<std::string> names;
    double ignored = 0.0;
    NumericParser(_expr, nullptr, &names).run(ignored);
    return names;
}

bool NumericExpression::eval(const AttributeMap& attributes, double& result) const
{
    if (!_valid)
    {
        return false;
    }
    double value = 0.0;
    if (!NumericParser(_expr, &attributes, nullptr).run(value) || !std::isfinite(value))
    {
        return false;
    }
    result = value;
    return true;
}

double NumericExpression::eval(const AttributeMap& attributes) const
{
    double result = 0.0;
    return eval(attributes, result) ? result : 0.0;
}

} // namespace Symbology
} // namespace osgEarth
