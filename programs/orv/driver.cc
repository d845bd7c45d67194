// The driver of `orv`: the request API, for callers that want the page.
#include "programs/orv/driver.h"

#include "site/answer.h"
#include "site/request.h"

namespace orv {

void run(const formdecode::request& rq, formdecode::output& out, engine::store_reading reading) {
  site::answer unused;
  site::run_request(rq, out, unused, reading);
}

}  // namespace orv
