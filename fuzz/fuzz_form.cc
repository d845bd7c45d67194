// The form decoder: the input as a GET query string and as a POST body.
#include <sstream>

#include "formdecode/field_store.h"
#include "formdecode/formdecode.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(fuzz::text_of(data, size));
  fuzz::sink s;

  formdecode::request get;
  get.query_string = text;
  get.request_method = "GET";
  formdecode::field_store get_fields;
  try {
    formdecode::decode_form(get, get_fields, s.out.pg());
  } catch (const formdecode::run_exit&) {
  }

  std::istringstream body(text);
  formdecode::request post;
  post.request_method = "POST";
  post.content_type = "application/x-www-form-urlencoded";
  post.content_length = std::to_string(size);
  post.body = &body;
  formdecode::field_store post_fields;
  try {
    formdecode::decode_form(post, post_fields, s.out.pg());
  } catch (const formdecode::run_exit&) {
  }
  return 0;
}
