// JSON strings: one writer for every program that prints JSON.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// `s` as a JSON string literal, quotes included. `"` and `\` are escaped,
/// a line feed is `\n`, other control characters and DEL are `\u00XX`.
/// Valid UTF-8 is copied as it is; a byte that does not belong to a valid
/// UTF-8 sequence (a file name is any bytes) becomes `\ufffd`, the
/// replacement character, so the result is always valid UTF-8 JSON.
std::string json_string(std::string_view s);

}  // namespace platform
