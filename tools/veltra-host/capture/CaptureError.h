#pragma once

#include <stdexcept>
#include <string>

namespace veltra::host {

/// The X server refused a capture request, an extension is missing, or a picture cannot be encoded.
class CaptureError : public std::runtime_error
{
public:
    explicit CaptureError(const std::string& what) : std::runtime_error("capture: " + what) {}
};

} // namespace veltra::host
