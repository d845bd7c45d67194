// Shared pieces of the fuzz targets: a page that discards what it is given
// and the run's output over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "formdecode/page.h"

namespace fuzz {

/// A stream buffer that takes every byte and keeps none.
class null_buffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

/// The page and trace of one run, written nowhere (the trace stays closed).
struct sink {
  null_buffer buffer;
  std::ostream stream{&buffer};
  formdecode::output out{stream};
};

/// The fuzzer's input as text.
inline std::string_view text_of(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
