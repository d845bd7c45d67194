// A request of the site manager against a store of any text, run twice:
// once reading every cell in full at load, once keeping each cell as its
// stored text until the run reaches it. Both runs must end alike and leave
// the same page and the same files.
//
// Input: four bytes choose the requests (kind and value of the first, kind
// and value of a second one, none when the kind byte is 128 or more); the
// rest is the store, html/file.ic.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "tests/differential/site_pair.h"

namespace {

// Descriptions the created and incoming vantles give themselves (form
// encoded where they go into a form).
const char* const descriptions[] = {"mechanics%23%21", "optics%23jazz%23%21", "%21",
                                    "poetry%23novels%23%21"};
const char* const incoming_descriptions[] = {"mechanics#!", "jazz#optics#!", "!", "tennis#!"};

differential::request choose(std::uint8_t kind, std::uint8_t value) {
  const int id = value % 16;  // mostly ids the small stores hold
  const std::string doc = "doc-" + std::to_string(value);
  switch (kind % 10) {
    case 0:
      return differential::create_vantle(doc, descriptions[value % 4],
                                         value & 0x40 ? "Info_Gathering" : "Archives");
    case 1:
      return differential::to_vantle(value & 0x80 ? "MSG_SHOW_VANTLE_RESULT" : "MSG_SHOW_ALL", id);
    case 2:
      return differential::to_vantle("MSG_DELETE", id);
    case 3:
      // To every vantle: a query from a copy of "east", or the deletion of
      // the vantle of one document.
      return value & 0x80
                 ? differential::to_vantle("MSG_MOVE_DELETE", -1, "doc-" + std::to_string(id))
                 : differential::to_vantle("MSG_RETRIEVE", -1,
                                           "east%7C7%7C" + std::string(descriptions[value % 4]) +
                                               "%7Cdoc-e7");
    case 4:
      return value & 1 ? differential::system_message("MSG_SHOW_CONFIG")
                       : differential::system_message("MSG_UPDATE_CONFIG",
                                                      "VG_THRESHOLD%7C" + std::to_string(value % 12));
    case 5: {
      differential::request rq = differential::system_message("SYS_PICK_UP_MSG");
      rq.inbox.push_back(value & 1 ? differential::incoming_move(0, incoming_descriptions[(value >> 1) % 4])
                                   : differential::incoming_show(0, id));
      if (value & 0x80) rq.inbox.push_back(differential::incoming_show(1, (value >> 3) % 16));
      return rq;
    }
    case 6:
      return differential::system_message("SYS_BACKUP");
    case 7:
      return differential::system_message("SYS_RESTORE");
    case 8:
      return differential::to_vantle("MSG_SHOW_ALL", value & 1 ? -1 : 0);
    default:
      return differential::create_vantle(doc, descriptions[value % 4], "Archives");
  }
}

// The sites of this process, laid out afresh for every input.
struct scratch {
  std::string root = differential::scratch_directory();
  differential::site_pair pair{root};
  ~scratch() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static scratch s;
  std::uint8_t head[4] = {0, 0, 0xff, 0};
  const std::size_t taken = size < 4 ? size : 4;
  for (std::size_t i = 0; i < taken; ++i) head[i] = data[i];
  std::string store(fuzz::text_of(data + taken, size - taken));

  std::vector<differential::request> requests{choose(head[0], head[1])};
  if (head[2] < 128) requests.push_back(choose(head[2], head[3]));
  if (std::optional<std::string> d =
          differential::compare(s.pair, differential::files_for(store), requests)) {
    std::fprintf(stderr, "the full and the lazy reading of the store differ: %s\n"
                 "the two sites are kept in %s\n",
                 d->c_str(), s.root.c_str());
    std::abort();
  }
  return 0;
}
