#include "RegistryScript.h"

#include <cctype>
#include <cstdlib>

namespace FB::registry {

namespace {

enum class TokenKind
{
    Word,   // a bare word
    Quoted, // a '...' string
    Open,
    Close,
    Equals,
    End
};

struct Token
{
    TokenKind kind = TokenKind::End;
    std::string text;
    ScriptPosition at;
};

/// Thrown inside the parser only, caught by parseRegistryScript and turned into its status.
struct ParseFailure
{
    Result result;
    ScriptPosition at;
    std::string message;
};

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    return foldName(a) == foldName(b);
}

class Tokenizer
{
public:
    Tokenizer(const std::string& text, const ScriptSubstitutions& substitutions)
        : _text(text), _substitutions(substitutions)
    {}

    Token next()
    {
        skipSpace();
        Token token;
        token.at = position();
        if (_at >= _text.size())
            return token;
        const char c = _text[_at];
        if (c == '{' && _at + 1 < _text.size() && !isSpace(_text[_at + 1]) && _text[_at + 1] != '}' &&
            _text[_at + 1] != '{')
        {
            // A bare name in braces, as class identifiers are written: it runs to its closing brace.
            token.kind = TokenKind::Word;
            while (_at < _text.size() && _text[_at] != '}' && !isSpace(_text[_at]))
                appendCharacter(token.text);
            if (_at >= _text.size() || _text[_at] != '}')
                fail(Result::ScriptSyntax, token.at, "a name starting with '{' needs its '}' on the same word");
            appendCharacter(token.text);
            return token;
        }
        if (c == '{' || c == '}' || c == '=')
        {
            advance();
            token.kind = c == '{' ? TokenKind::Open : c == '}' ? TokenKind::Close : TokenKind::Equals;
            token.text = std::string(1, c);
            return token;
        }
        if (c == '\'')
        {
            advance();
            token.kind = TokenKind::Quoted;
            token.text = quotedRest(token.at);
            return token;
        }
        token.kind = TokenKind::Word;
        while (_at < _text.size() && !isSpace(_text[_at]) && _text[_at] != '{' && _text[_at] != '}' &&
               _text[_at] != '=' && _text[_at] != '\'')
            appendCharacter(token.text);
        return token;
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    ScriptPosition position() const { return {_line, _column}; }

    void advance()
    {
        if (_text[_at] == '\n')
        {
            ++_line;
            _column = 1;
        }
        else
            ++_column;
        ++_at;
    }

    void skipSpace()
    {
        while (_at < _text.size() && isSpace(_text[_at]))
            advance();
    }

    [[noreturn]] void fail(Result result, ScriptPosition at, const std::string& message) const
    {
        throw ParseFailure{result, at, message};
    }

    /// Appends the character at the cursor to `out`, expanding a %NAME% that starts there.
    void appendCharacter(std::string& out)
    {
        const char c = _text[_at];
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t')
            fail(Result::ScriptSyntax, position(), "control character in a name or string");
        if (c != '%')
        {
            out += c;
            advance();
            return;
        }
        const ScriptPosition start = position();
        advance();
        std::string name;
        while (_at < _text.size() && _text[_at] != '%' && _text[_at] != '\n' && _text[_at] != '\'')
        {
            name += _text[_at];
            advance();
        }
        if (_at >= _text.size() || _text[_at] != '%')
            fail(Result::ScriptSyntax, start, "'%' without a closing '%' (write %% for a single '%')");
        advance();
        if (name.empty())
        {
            out += '%';
            return;
        }
        const auto found = _substitutions.find(name);
        if (found == _substitutions.end())
            fail(Result::UnknownSubstitution, start, "no replacement for %" + name + "%");
        out += found->second;
    }

    std::string quotedRest(ScriptPosition start)
    {
        std::string text;
        while (true)
        {
            if (_at >= _text.size() || _text[_at] == '\n')
                fail(Result::ScriptSyntax, start, "quoted string not closed on its line");
            if (_text[_at] == '\'')
            {
                advance();
                if (_at < _text.size() && _text[_at] == '\'')
                {
                    text += '\'';
                    advance();
                    continue;
                }
                return text;
            }
            appendCharacter(text);
        }
    }

    const std::string& _text;
    const ScriptSubstitutions& _substitutions;
    std::size_t _at = 0;
    int _line = 1;
    int _column = 1;
};

class Parser
{
public:
    Parser(const std::string& text, const ScriptSubstitutions& substitutions) : _tokens(text, substitutions)
    {
        _current = _tokens.next();
    }

    RegistryScript script()
    {
        RegistryScript parsed;
        while (_current.kind != TokenKind::End)
        {
            ScriptRootBlock block;
            block.root = rootOf(take());
            expect(TokenKind::Open, "'{' after the root key");
            block.keys = keys(true);
            parsed.blocks.push_back(std::move(block));
        }
        return parsed;
    }

private:
    [[noreturn]] static void fail(const Token& token, const std::string& message)
    {
        throw ParseFailure{Result::ScriptSyntax, token.at, message};
    }

    static std::string describe(const Token& token)
    {
        return token.kind == TokenKind::End ? std::string("the end of the script") : "'" + token.text + "'";
    }

    Token take()
    {
        Token token = _current;
        _current = _tokens.next();
        return token;
    }

    void expect(TokenKind kind, const char* what)
    {
        if (_current.kind != kind)
            fail(_current, std::string("expected ") + what + ", found " + describe(_current));
        take();
    }

    static Root rootOf(const Token& token)
    {
        if (token.kind == TokenKind::Word)
        {
            if (equalsIgnoringCase(token.text, "HKCR") || equalsIgnoringCase(token.text, "HKEY_CLASSES_ROOT"))
                return Root::ClassesRoot;
            if (equalsIgnoringCase(token.text, "HKCU") || equalsIgnoringCase(token.text, "HKEY_CURRENT_USER"))
                return Root::CurrentUser;
            if (equalsIgnoringCase(token.text, "HKLM") || equalsIgnoringCase(token.text, "HKEY_LOCAL_MACHINE"))
                return Root::LocalMachine;
        }
        fail(token, "expected a root key (HKCR, HKCU or HKLM), found " + describe(token));
    }

    /// The items up to the closing brace, which it takes.
    std::vector<ScriptKey> keys(bool atRoot)
    {
        std::vector<ScriptKey> list;
        while (true)
        {
            if (_current.kind == TokenKind::Close)
            {
                take();
                return list;
            }
            if (_current.kind == TokenKind::End)
                fail(_current, "missing '}' before the end of the script");
            if (_current.kind == TokenKind::Word && equalsIgnoringCase(_current.text, "val"))
            {
                if (atRoot)
                    fail(_current, "a value needs a key; a root key holds keys only");
                take();
                const Token name = nameToken("a value name");
                const Status checked = checkValueName(name.text);
                if (!checked.ok())
                    fail(name, checked.message);
                expect(TokenKind::Equals, "'=' after the value name");
                _pendingValues->push_back(typedValue(name.text));
                continue;
            }
            list.push_back(key());
        }
    }

    ScriptKey key()
    {
        ScriptKey parsed;
        if (_current.kind == TokenKind::Word)
        {
            if (equalsIgnoringCase(_current.text, "NoRemove"))
                parsed.rule = KeyRule::NoRemove;
            else if (equalsIgnoringCase(_current.text, "ForceRemove"))
                parsed.rule = KeyRule::ForceRemove;
            else if (equalsIgnoringCase(_current.text, "Delete"))
                parsed.rule = KeyRule::Delete;
            if (parsed.rule != KeyRule::Plain)
                take();
        }
        const Token name = nameToken("a key name");
        const Status checked = checkKeyName(name.text);
        if (!checked.ok())
            fail(name, checked.message);
        parsed.name = name.text;
        if (_current.kind == TokenKind::Equals)
        {
            if (parsed.rule == KeyRule::Delete)
                fail(_current, "a key marked Delete takes no value");
            take();
            parsed.defaultValue = typedValue("");
        }
        if (_current.kind == TokenKind::Open)
        {
            if (parsed.rule == KeyRule::Delete)
                fail(_current, "a key marked Delete takes no block");
            if (++_depth > maxDepth)
                fail(_current, "keys nested deeper than " + std::to_string(maxDepth) + " levels");
            take();
            std::vector<RegistryValue>* outer = _pendingValues;
            _pendingValues = &parsed.values;
            parsed.subkeys = keys(false);
            _pendingValues = outer;
            --_depth;
        }
        return parsed;
    }

    Token nameToken(const char* what)
    {
        if (_current.kind != TokenKind::Word && _current.kind != TokenKind::Quoted)
            fail(_current, std::string("expected ") + what + ", found " + describe(_current));
        return take();
    }

    RegistryValue typedValue(const std::string& name)
    {
        const Token type = take();
        if (type.kind != TokenKind::Word)
            fail(type, "expected a value type (s or d), found " + describe(type));
        const Token data = _current;
        if (data.kind != TokenKind::Quoted && data.kind != TokenKind::Word)
            fail(data, "expected the value's data, found " + describe(data));
        if (equalsIgnoringCase(type.text, "s"))
        {
            take();
            return RegistryValue::string(name, data.text);
        }
        if (equalsIgnoringCase(type.text, "d"))
        {
            take();
            return RegistryValue::dword(name, dword(data));
        }
        fail(type, "unsupported value type '" + type.text + "' (s for a string, d for a dword)");
    }

    static std::uint32_t dword(const Token& data)
    {
        const std::string& text = data.text;
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string digits = hex ? text.substr(2) : text;
        const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
        if (digits.empty() || digits.size() > (hex ? 8u : 10u) ||
            digits.find_first_not_of(allowed) != std::string::npos)
            fail(data, "'" + text + "' is not a dword (decimal or 0x hexadecimal, at most 4294967295)");
        const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
        if (value > 0xffffffffULL)
            fail(data, "'" + text + "' is larger than a dword");
        return static_cast<std::uint32_t>(value);
    }

    Tokenizer _tokens;
    Token _current;
    std::vector<RegistryValue>* _pendingValues = nullptr;
    // Nesting is parsed by recursion; a bound keeps a hostile script from exhausting the stack.
    static constexpr int maxDepth = 64;
    int _depth = 0;
};

} // namespace

Status parseRegistryScript(const std::string& text, const ScriptSubstitutions& substitutions, RegistryScript& script,
                           ScriptPosition* where)
{
    script = RegistryScript();
    try
    {
        Parser parser(text, substitutions);
        script = parser.script();
        return Status::success();
    }
    catch (const ParseFailure& failure)
    {
        if (where)
            *where = failure.at;
        return Status::failure(failure.result, "line " + std::to_string(failure.at.line) + ", column " +
                                                   std::to_string(failure.at.column) + ": " + failure.message);
    }
}

} // namespace FB::registry
