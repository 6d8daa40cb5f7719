#include <VeltraIfc/IfcText.h>

#include <utf8.h>

namespace veltra::ifc {

std::string toUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    auto sink = std::back_inserter(out);
    for (wchar_t c : text)
    {
        const auto code = static_cast<uint32_t>(c);
        const bool valid = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        sink = utf8::unchecked::append(valid ? code : 0xFFFDu, sink);
    }
    return out;
}

} // namespace veltra::ifc
