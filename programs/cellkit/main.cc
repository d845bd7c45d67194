// cellkit: the template manager, run by the web server once per request.
#include <iostream>

#include "formdecode/page.h"
#include "programs/cellkit/driver.h"

int main() {
  formdecode::output out(std::cout);
  int status = 0;
  try {
    cellkit::run(formdecode::request::from_environment(std::cin), out);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  out.finish();
  return status;
}
