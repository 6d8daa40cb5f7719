#include "StoreFormat.h"

#include <cstdlib>

#include "registry/RegistryPath.h"

namespace FB::registry {

namespace {

const char* const header = "veltra-registry 1";
const char* const trailer = "end";

void appendQuoted(std::string& out, const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += c;
        }
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7f)
        {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xf];
        }
        else
            out += c;
    }
    out += '"';
}

void writeKey(std::string& out, const RegistryKey& key, std::vector<const std::string*>& path)
{
    out += "key";
    for (const std::string* name : path)
    {
        out += ' ';
        appendQuoted(out, *name);
    }
    out += '\n';
    for (const RegistryValue* value : key.values())
    {
        out += value->type == ValueType::String ? "    sz " : "    dword ";
        appendQuoted(out, value->name);
        out += ' ';
        if (value->type == ValueType::String)
            appendQuoted(out, value->text);
        else
            out += std::to_string(value->number);
        out += '\n';
    }
    for (const RegistryKey* subkey : key.subkeys())
    {
        path.push_back(&subkey->name());
        writeKey(out, *subkey, path);
        path.pop_back();
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// Reads the words of one line: bare words and quoted strings, separated by spaces.
class LineReader
{
public:
    explicit LineReader(const std::string& line) : _line(line) {}

    bool atEnd()
    {
        skipSpaces();
        return _at >= _line.size();
    }

    bool bareWord(std::string& word)
    {
        skipSpaces();
        const std::size_t start = _at;
        while (_at < _line.size() && _line[_at] != ' ' && _line[_at] != '"')
            ++_at;
        word = _line.substr(start, _at - start);
        return !word.empty();
    }

    /// A quoted string; `error` says what is wrong when it is not one.
    bool quoted(std::string& text, std::string& error)
    {
        skipSpaces();
        text.clear();
        if (_at >= _line.size() || _line[_at] != '"')
        {
            error = "expected a quoted string";
            return false;
        }
        ++_at;
        while (_at < _line.size())
        {
            const char c = _line[_at++];
            if (c == '"')
                return true;
            if (c != '\\')
            {
                text += c;
                continue;
            }
            if (_at >= _line.size())
                break;
            const char escaped = _line[_at++];
            if (escaped == '\\' || escaped == '"')
                text += escaped;
            else if (escaped == 'n')
                text += '\n';
            else if (escaped == 't')
                text += '\t';
            else if (escaped == 'x' && _at + 1 < _line.size() && hexDigit(_line[_at]) >= 0 &&
                     hexDigit(_line[_at + 1]) >= 0)
            {
                text += static_cast<char>(hexDigit(_line[_at]) * 16 + hexDigit(_line[_at + 1]));
                _at += 2;
            }
            else
            {
                error = std::string("bad escape '\\") + escaped + "'";
                return false;
            }
        }
        error = "unterminated quoted string";
        return false;
    }

private:
    void skipSpaces()
    {
        while (_at < _line.size() && _line[_at] == ' ')
            ++_at;
    }

    const std::string& _line;
    std::size_t _at = 0;
};

bool parseDword(const std::string& word, std::uint32_t& number)
{
    if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long parsed = std::strtoull(word.c_str(), nullptr, 10);
    if (parsed > 0xffffffffULL)
        return false;
    number = static_cast<std::uint32_t>(parsed);
    return true;
}

} // namespace

std::string writeStoreText(const RegistryKey& root)
{
    std::string out = std::string(header) + "\n";
    std::vector<const std::string*> path;
    writeKey(out, root, path);
    out += trailer;
    out += '\n';
    return out;
}

Status readStoreText(const std::string& text, const std::string& fileName, RegistryKey& root)
{
    root = RegistryKey();
    std::size_t lineNumber = 0;
    auto damaged = [&](const std::string& what) {
        root = RegistryKey();
        return Status::failure(Result::StoreDamaged, fileName + ":" + std::to_string(lineNumber) + ": " + what);
    };

    RegistryKey* current = nullptr;
    bool ended = false;
    std::size_t at = 0;
    while (at < text.size())
    {
        ++lineNumber;
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string::npos)
            return damaged("last line has no line end (file cut short?)");
        const std::string line = text.substr(at, newline - at);
        at = newline + 1;

        if (ended)
            return damaged("text after the end line");
        if (lineNumber == 1)
        {
            if (line != header)
                return damaged(std::string("not a registry store (expected '") + header + "')");
            continue;
        }
        if (line == trailer)
        {
            ended = true;
            continue;
        }

        LineReader reader(line);
        std::string word;
        std::string error;
        if (!reader.bareWord(word))
            return damaged("expected 'key', 'sz', 'dword' or 'end'");
        if (word == "key")
        {
            RegistryKey* key = &root;
            bool created = true;
            while (!reader.atEnd())
            {
                std::string name;
                if (!reader.quoted(name, error))
                    return damaged(error);
                const Status checked = checkKeyName(name);
                if (!checked.ok())
                    return damaged(checked.message);
                key = &key->addSubkey(name, &created);
            }
            if (!created)
                return damaged("key listed twice");
            current = key;
        }
        else if (word == "sz" || word == "dword")
        {
            if (!current)
                return damaged("value before the first key");
            RegistryValue value;
            if (!reader.quoted(value.name, error))
                return damaged(error);
            const Status checked = checkValueName(value.name);
            if (!checked.ok())
                return damaged(checked.message);
            if (word == "sz")
            {
                if (!reader.quoted(value.text, error))
                    return damaged(error);
                if (value.text.find('\0') != std::string::npos)
                    return damaged("string data with a NUL character");
            }
            else
            {
                value.type = ValueType::Dword;
                std::string number;
                if (!reader.bareWord(number) || !parseDword(number, value.number))
                    return damaged("expected a number from 0 to 4294967295");
            }
            if (current->value(value.name))
                return damaged("value listed twice");
            current->setValue(value);
        }
        else
            return damaged("unknown line '" + word + "'");
        if (!reader.atEnd())
            return damaged("unexpected text at the end of the line");
    }
    if (lineNumber == 0)
        return damaged("empty file");
    if (!ended)
        return damaged("no end line (file cut short?)");
    return Status::success();
}

} // namespace FB::registry
