// The watch's carrier, against a stand-in for ssh that answers batches as
// a peer's `orvsite deliver --batches` does.
#include "programs/orvsite/carrier.h"

#include <stdlib.h>

#include "gtest/gtest.h"

#include <filesystem>
#include <string>

#include "programs/orvsite/delivery.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;
using test_util::read_file;
using test_util::write_file;

class Carrier : public ::testing::Test {
 protected:
  Carrier() {
    // "ssh": notes each start, then answers each delivery file by file and
    // each end of a batch with "batch done".
    write_file(dir_ / "bin/ssh",
               "#!/bin/sh\n"
               "echo \"$*\" >>'" + std::string(dir_ / "started") + "'\n"
               "while rec=$(head -c 256) && [ -n \"$rec\" ]; do\n"
               "  case $rec in\n"
               "    '-- end of batch'*) echo 'batch done' ;;\n"
               "    *) set -- $rec; head -c \"$2\" >/dev/null; echo \"linked $1\" ;;\n"
               "  esac\n"
               "done\n");
    fs::permissions(dir_ / "bin/ssh", fs::perms::owner_all);
    path_ = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (std::string(dir_ / "bin") + ":" + path_).c_str(), 1);
    std::string err;
    carrier_ = orvsite::carrier::open(socket_, 300, &err);
    EXPECT_TRUE(carrier_) << err;
  }
  ~Carrier() override {
    carrier_.reset();
    setenv("PATH", path_.c_str(), 1);
  }
  static std::string file(const std::string& id, const std::string& text) {
    return orvsite::format_delivery_header(id, static_cast<std::int64_t>(text.size())) + text;
  }
  int starts() const {
    std::string said = read_file(dir_ / "started").value_or("");
    return static_cast<int>(std::count(said.begin(), said.end(), '\n'));
  }

  test_util::scoped_temp_dir dir_;
  std::string socket_ = dir_ / "carrier";
  std::string path_;
  std::unique_ptr<orvsite::carrier> carrier_;
};

TEST_F(Carrier, CarriesDeliveryAfterDeliveryThroughOneSession) {
  const std::vector<std::string> session = {"ssh", "peer", "orv-deliver-batches /srv/east/html"};
  EXPECT_EQ("linked a.b1.c\nlinked a.b2.c\n",
            orvsite::carry(socket_, session, file("a.b1.c", "one\n") + file("a.b2.c", "two\n")));
  EXPECT_EQ("", orvsite::carry(socket_, session, ""));
  EXPECT_EQ("linked a.b3.c\n", orvsite::carry(socket_, session, file("a.b3.c", "three\n")));
  EXPECT_EQ(1, starts());
  // Another peer, another session.
  EXPECT_EQ("linked a.b4.c\n", orvsite::carry(socket_, {"ssh", "other", "orv-deliver-batches /h"},
                                              file("a.b4.c", "four\n")));
  EXPECT_EQ(2, starts());
}

TEST_F(Carrier, RunsNothingButTheBatchesCommandOverSsh) {
  write_file(dir_ / "bin/sh-like", "#!/bin/sh\ntouch '" + std::string(dir_ / "ran") + "'\n");
  fs::permissions(dir_ / "bin/sh-like", fs::perms::owner_all);
  const std::string d = file("a.b1.c", "one\n");
  EXPECT_FALSE(orvsite::carry(socket_, {"sh-like", "peer", "orv-deliver-batches /h"}, d));
  EXPECT_FALSE(orvsite::carry(socket_, {"ssh", "peer", "rm -rf /h"}, d));
  EXPECT_FALSE(orvsite::carry(socket_, {"ssh"}, d));
  // Nor a delivery whose end would not fall where a header is read.
  EXPECT_FALSE(orvsite::carry(socket_, {"ssh", "peer", "orv-deliver-batches /h"}, d.substr(0, 258)));
  EXPECT_FALSE(fs::exists(dir_ / "ran"));
  EXPECT_EQ(0, starts());
  // Without a carrier, nothing is carried.
  carrier_.reset();
  EXPECT_FALSE(fs::exists(socket_));
  EXPECT_FALSE(orvsite::carry(socket_, {"ssh", "peer", "orv-deliver-batches /h"}, d));
}

}  // namespace
