#include "capture/DomKeys.h"

#include <X11/X.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace veltra::host {

namespace {

unsigned long keysymForName(const std::string& key)
{
    if (key.size() == 1)
    {
        const auto c = static_cast<unsigned char>(key[0]);
        // Printable ASCII keysyms equal their character codes.
        if (c >= 0x20 && c < 0x7f)
            return static_cast<unsigned long>(std::tolower(c));
        return NoSymbol;
    }
    static const std::map<std::string, unsigned long> named = {
        {"Enter", XK_Return},     {"Escape", XK_Escape},       {"Esc", XK_Escape},
        {"Tab", XK_Tab},          {"Backspace", XK_BackSpace}, {"Delete", XK_Delete},
        {"Insert", XK_Insert},    {"Home", XK_Home},           {"End", XK_End},
        {"PageUp", XK_Page_Up},   {"PageDown", XK_Page_Down},  {"ArrowLeft", XK_Left},
        {"ArrowRight", XK_Right}, {"ArrowUp", XK_Up},          {"ArrowDown", XK_Down},
        {"Left", XK_Left},        {"Right", XK_Right},         {"Up", XK_Up},
        {"Down", XK_Down},        {"Spacebar", XK_space},      {"Shift", XK_Shift_L},
        {"Control", XK_Control_L}, {"Alt", XK_Alt_L},          {"Meta", XK_Super_L},
        {"CapsLock", XK_Caps_Lock},
    };
    if (const auto found = named.find(key); found != named.end())
        return found->second;
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (key.size() <= 3 && key[0] == 'F' && std::all_of(key.begin() + 1, key.end(), isDigit))
    {
        const int number = std::stoi(key.substr(1));
        if (number >= 1 && number <= 12)
            return XK_F1 + static_cast<unsigned long>(number - 1);
    }
    return NoSymbol;
}

unsigned long keysymForCode(int code)
{
    if (code >= 'A' && code <= 'Z')
        return XK_a + static_cast<unsigned long>(code - 'A');
    if (code >= '0' && code <= '9')
        return XK_0 + static_cast<unsigned long>(code - '0');
    if (code >= 112 && code <= 123)
        return XK_F1 + static_cast<unsigned long>(code - 112);
    static const std::map<int, unsigned long> codes = {
        {8, XK_BackSpace}, {9, XK_Tab},      {13, XK_Return},   {16, XK_Shift_L},
        {17, XK_Control_L}, {18, XK_Alt_L},  {20, XK_Caps_Lock}, {27, XK_Escape},
        {32, XK_space},    {33, XK_Page_Up}, {34, XK_Page_Down}, {35, XK_End},
        {36, XK_Home},     {37, XK_Left},    {38, XK_Up},       {39, XK_Right},
        {40, XK_Down},     {45, XK_Insert},  {46, XK_Delete},   {91, XK_Super_L},
    };
    const auto found = codes.find(code);
    return found != codes.end() ? found->second : NoSymbol;
}

} // namespace

unsigned long keysymForDomKey(const std::string& key, int keyCode)
{
    const unsigned long fromName = key.empty() ? NoSymbol : keysymForName(key);
    return fromName != NoSymbol ? fromName : keysymForCode(keyCode);
}

} // namespace veltra::host
