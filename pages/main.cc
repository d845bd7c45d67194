// vexil: the page-template interpreter, run by the web server once per
// request.
#include <iostream>

#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "pages/vexil.h"

int main() {
  formdecode::page pg(std::cout);
  int status = 0;
  try {
    pages::run(formdecode::request::from_environment(std::cin), pg);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  pg.flush();
  return status;
}
