#include "RegistryPath.h"

namespace FB::registry {

namespace {

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

std::string printable(const std::string& name)
{
    std::string out;
    for (char c : name)
    {
        if (isControl(c))
        {
            static const char digits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xf];
        }
        else
            out += c;
    }
    return out;
}

} // namespace

Status checkKeyName(const std::string& name)
{
    if (name.empty())
        return Status::failure(Result::InvalidName, "empty key name");
    if (name == "." || name == "..")
        return Status::failure(Result::InvalidName, "key name '" + name + "' is not allowed");
    if (name.size() > maxKeyNameLength)
        return Status::failure(Result::InvalidName, "key name longer than 255 bytes");
    for (char c : name)
    {
        if (c == '\\')
            return Status::failure(Result::InvalidName, "key name '" + name + "' contains '\\'");
        if (isControl(c))
            return Status::failure(Result::InvalidName,
                                   "key name '" + printable(name) + "' contains a control character");
    }
    return Status::success();
}

Status checkValueName(const std::string& name)
{
    for (char c : name)
        if (isControl(c))
            return Status::failure(Result::InvalidName,
                                   "value name '" + printable(name) + "' contains a control character");
    return Status::success();
}

Status parseKeyPath(const std::string& text, KeyPath& path)
{
    path.clear();
    if (text.empty())
        return Status::success();
    std::size_t start = 0;
    while (true)
    {
        const std::size_t end = text.find('\\', start);
        const std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        Status checked = checkKeyName(name);
        if (!checked.ok())
        {
            checked.message = "key path '" + printable(text) + "': " + checked.message;
            path.clear();
            return checked;
        }
        path.push_back(name);
        if (end == std::string::npos)
            return Status::success();
        start = end + 1;
    }
}

std::string foldName(const std::string& name)
{
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string joinKeyPath(const KeyPath& path)
{
    std::string joined;
    for (const std::string& name : path)
    {
        if (!joined.empty())
            joined += '\\';
        joined += name;
    }
    return joined;
}

const char* rootName(Root root)
{
    switch (root)
    {
    case Root::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case Root::CurrentUser: return "HKEY_CURRENT_USER";
    case Root::LocalMachine: return "HKEY_LOCAL_MACHINE";
    }
    return "?";
}

} // namespace FB::registry
