// Text checks and codings that the machine-readable outputs share: paths are
// bytes, and a path that is not UTF-8 travels as base64 beside its readable
// form.
#pragma once

#include <string>

namespace lumvet {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(const std::string& text);
// Standard base64 (RFC 4648) with '=' padding.
std::string base64_encode(const std::string& bytes);

}  // namespace lumvet
