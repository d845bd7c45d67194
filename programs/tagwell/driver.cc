#include "programs/tagwell/driver.h"

#include "formdecode/page.h"

namespace tagwell {

using formdecode::format;

name_record test_record() {
  name_record rec;
  rec.symbolic_name = "tagwell test name";
  rec.server_id = "tagwell test server";
  rec.orv_id = "tagwell test site";
  rec.ic_type = "MAP";
  rec.ic_id = -1;  // not assigned yet
  rec.flag = 's';
  return rec;
}

void run(char kind, std::ostream& out) {
  name_record rec;
  if (kind == 'N') {
    rec = test_record();
    if (register_name(rec, out) != registered) rec.ic_id = -1;
    out << format("ic_id = %d\n", {rec.ic_id}, false);
  } else if (kind == 'L') {
    rec.symbolic_name = test_record().symbolic_name;
    if (look_up(rec, out)) {
      out << record_text(rec);
    } else {
      out << "NOT FOUND\n";
    }
  } else {
    out << "Unknown Naming Service Request\n";
  }
}

}  // namespace tagwell
