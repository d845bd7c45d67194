// tagwell: registers the test name with the naming service of the working
// directory and reports the ic id it was given.
#include <iostream>

#include "formdecode/page.h"
#include "programs/tagwell/driver.h"

int main() {
  int status = 0;
  try {
    tagwell::run(tagwell::request_kind, std::cout);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  std::cout.flush();
  return status;
}
