#include "site/world.h"

#include "engine/engine.h"

namespace site {

void read_site_table(formdecode::output& out) { engine::not_built(out, "read the query-site table"); }

void read_knowledge_base(formdecode::output& out) {
  engine::not_built(out, "read the keyword knowledge base");
}

}  // namespace site
