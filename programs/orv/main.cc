// orv: the site manager, run by the web server once per request.
#include <iostream>

#include "formdecode/page.h"
#include "programs/orv/driver.h"

int main() {
  formdecode::output out(std::cout);
  int status = 0;
  try {
    orv::run(formdecode::request::from_environment(std::cin), out);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  out.finish();
  return status;
}
