#pragma once

#include <string>

namespace veltra::host {

/// The X keysym for a key as a page names it: the DOM `key` value ("a", "A", "7", "Enter",
/// "ArrowLeft", " ", "Shift", "F5", ...), or, when that names no key we know, the legacy DOM
/// `keyCode`. Letters give the lower-case keysym (the shift state says the rest). 0 (NoSymbol)
/// when neither is known.
unsigned long keysymForDomKey(const std::string& key, int keyCode = 0);

} // namespace veltra::host
