#include "platform/json_string.h"

#include <cstdio>

namespace platform {
namespace {

// The length of the valid UTF-8 sequence that starts at `s[i]` (a lead
// byte of 0x80 or above), or 0 when there is none. Overlong forms,
// surrogates and code points above U+10FFFF are not valid.
size_t utf8_length(std::string_view s, size_t i) {
  unsigned char lead = static_cast<unsigned char>(s[i]);
  size_t n;
  unsigned char lo = 0x80, hi = 0xbf;  // range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    n = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    n = 3;
    if (lead == 0xe0) lo = 0xa0;  // overlong below U+0800
    if (lead == 0xed) hi = 0x9f;  // surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    n = 4;
    if (lead == 0xf0) lo = 0x90;  // overlong below U+10000
    if (lead == 0xf4) hi = 0x8f;  // above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char c = static_cast<unsigned char>(s[i + k]);
    if (c < lo || c > hi) return 0;
    lo = 0x80;
    hi = 0xbf;
  }
  return n;
}

}  // namespace

std::string json_string(std::string_view s) {
  std::string j = "\"";
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      size_t n = utf8_length(s, i);
      if (n == 0) {
        j += "\\ufffd";
        ++i;
      } else {
        j.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      j += '\\';
      j += c;
    } else if (c == '\n') {
      j += "\\n";
    } else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      j += buf;
    } else {
      j += c;
    }
    ++i;
  }
  return j + "\"";
}

}  // namespace platform
