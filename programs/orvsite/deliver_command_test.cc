// The compiled receiver of a delivery: the same answers and files as the
// shell link-in, for the deliveries a peer may send, honest or not.
#include "programs/orvsite/deliver_command.h"

#include "gtest/gtest.h"

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "exchange/exchange.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;
namespace fs = std::filesystem;

std::string header(const std::string& id, size_t size) {
  return orvsite::format_delivery_header(id, static_cast<std::int64_t>(size));
}

// One file of a delivery, and its transfer id from `sender`.
struct message {
  std::string id, text;
};
message file(const std::string& sender, const std::string& name, const std::string& text) {
  return {sender + "." + name + "." + exchange::content_hash(text), text};
}
std::string framed(const message& m) { return header(m.id, m.text.size()) + m.text; }

TEST(DeliveryHeader, OnlyAnExactHeaderIsOne) {
  std::string written = header("north.east17000000001.0123456789abcdef0123456789abcdef", 42);
  ASSERT_EQ(256u, written.size());
  EXPECT_EQ(std::string(198, ' ') + "\n", written.substr(57));
  std::optional<orvsite::delivery_header> h = orvsite::parse_delivery_header(header("a.b1.c", 42));
  ASSERT_TRUE(h);
  EXPECT_EQ("a.b1.c", h->id);
  EXPECT_EQ(42, h->size);
  for (std::string bad : {header("a.b1.c", 42).substr(1), header(".hidden", 1), header("a/b", 1),
                          header("../x", 1), std::string(255, 'a') + "\n",
                          "a 1234567890123456" + std::string(237, ' ') + "\n",
                          "a 12 x" + std::string(249, ' ') + "\n"}) {
    EXPECT_FALSE(orvsite::parse_delivery_header(bad)) << bad;
  }
  std::string no_newline = header("a.b1.c", 1);
  no_newline.back() = ' ';
  EXPECT_FALSE(orvsite::parse_delivery_header(no_newline));
}

class Delivery : public ::testing::Test {
 protected:
  Delivery() { write_file(html_ + "/config.txt", "server id: s-east\r\norv id: East\r\n"); }

  // Delivers `stream` from the key of `peer`; the answer lines.
  std::string deliver(const std::string& stream, const std::string& peer = "south",
                      bool batches = false) {
    std::istringstream in(stream);
    std::ostringstream out;
    err_.str("");
    status_ = orvsite::deliver(html_, peer, in, out, err_, batches);
    return out.str();
  }
  // The names in inbox, sorted, each followed by a blank.
  std::string inbox() const {
    std::set<std::string> sorted;
    for (const auto& e : fs::directory_iterator(html_ + "/inbox")) sorted.insert(e.path().filename());
    std::string names;
    for (const std::string& n : sorted) names += n + " ";
    return names;
  }
  bool staging_empty() const { return fs::is_empty(html_ + "/.inbox-staging"); }

  test_util::scoped_temp_dir dir_;
  std::string html_ = dir_ / "html";
  std::ostringstream err_;
  int status_ = -1;
};

TEST_F(Delivery, LinksEachWholeFileOnceUnderAFreeName) {
  message a = file("south", "east17000000001", "one\n");
  message b = file("South", "east17000000001", "another of the same name\n");
  EXPECT_EQ("linked " + a.id + " east17000000001\nlinked " + b.id + " east17000000001.1\n",
            deliver(framed(a) + framed(b)));
  EXPECT_EQ(0, status_);
  EXPECT_EQ("one\n", read_file(html_ + "/inbox/east17000000001"));
  EXPECT_EQ("South\n", read_file(html_ + "/.inbox-link/from/east17000000001.1"));
  // Sent again after a lost confirmation: known, not linked twice.
  EXPECT_EQ("known " + a.id + "\n", deliver(framed(a)));
  EXPECT_EQ("east17000000001 east17000000001.1 ", inbox());
  EXPECT_TRUE(staging_empty());
}

TEST_F(Delivery, RefusesWhatThePeerMayNotDeliver) {
  message other = file("north", "east17000000002", "from another site\n");
  message not_ours = file("south", "west17000000003", "for another site\n");
  message hidden = file("south", ".east1", "x");
  message fake = {file("south", "east17000000004", "x").id, "y"};  // the hash does not match
  std::string out = deliver(framed(other) + framed(not_ours) + framed(hidden) + framed(fake));
  EXPECT_EQ("refused " + other.id + " sent with the key of south under the orv id north\n"
            "refused " + not_ours.id + " west17000000003 is no message file name for east\n"
            "bad " + hidden.id + "\nbad " + fake.id + "\n",
            out);
  EXPECT_EQ("", inbox());
  EXPECT_TRUE(staging_empty());
  std::string refused = read_file(html_ + "/.inbox-link/refused").value_or("");
  EXPECT_NE(std::string::npos, refused.find(other.id + ": sent with the key of south"));
}

TEST_F(Delivery, EndsAtWhatIsNoFileOfTheDelivery) {
  write_file(html_ + "/orv_staging_limits", "files 2\r\nbytes 100\n");
  message a = file("south", "east1", "first\n");
  message big = file("south", "east2", std::string(200, 'x'));
  // A file over the limit is refused before it is read (so before what came
  // earlier is linked in), and ends the delivery.
  EXPECT_EQ("refused " + big.id + " 200 bytes, over the staging limit of 100 bytes\nlinked " +
                a.id + " east1\n",
            deliver(framed(a) + framed(big) + framed(file("south", "east3", "after"))));
  // A header that is not one, and a file cut off.
  message b = file("south", "east4", "second\n");
  EXPECT_EQ("linked " + b.id + " east4\n", deliver(framed(b) + std::string(10000, 'a')));
  EXPECT_NE(std::string::npos, err_.str().find("no header where one belongs"));
  message c = file("south", "east5", "cut off\n");
  EXPECT_EQ("bad " + c.id + "\n", deliver(framed(c).substr(0, 260)));
  // More files than the limit.
  std::string three;
  for (const char* n : {"east6", "east7", "east8"}) three += framed(file("south", n, n));
  std::string out = deliver(three);
  EXPECT_NE(std::string::npos, out.find("more than 2 files in one delivery"));
  EXPECT_EQ("east1 east4 east6 east7 ", inbox());
  EXPECT_TRUE(staging_empty());
}

TEST_F(Delivery, ASessionTakesOneBatchAfterAnother) {
  const std::string end = orvsite::batch_end_record();
  EXPECT_FALSE(orvsite::parse_delivery_header(end));
  message a = file("south", "east1", "first\n");
  message b = file("south", "east2", "second\n");
  message c = file("south", "east3", "third\n");
  // Each batch is linked and answered before the next is read; a batch
  // without files is answered too, and the input's end ends the session.
  EXPECT_EQ("linked " + a.id + " east1\nbatch done\nbatch done\nlinked " + b.id +
                " east2\nknown " + a.id + "\nbatch done\n",
            deliver(framed(a) + end + end + framed(b) + framed(a) + end, "south", true));
  EXPECT_EQ(0, status_);
  // A batch that stops short is linked as far as it came, and ends the
  // session unanswered: what follows in the input cannot be read.
  EXPECT_EQ("linked " + c.id + " east3\n",
            deliver(framed(c) + std::string(300, 'a') + end + framed(file("south", "east4", "x")) + end,
                    "south", true));
  // Without batches, the record is no header: the delivery ends there.
  message d = file("south", "east5", "fifth\n");
  EXPECT_EQ("linked " + d.id + " east5\n", deliver(framed(d) + end + framed(file("south", "east6", "y"))));
  EXPECT_NE(std::string::npos, err_.str().find("no header where one belongs"));
  EXPECT_EQ("east1 east2 east3 east5 ", inbox());
  EXPECT_TRUE(staging_empty());
}

TEST_F(Delivery, SweepsStagingOfWhatCannotBeDelivered) {
  fs::create_directories(html_ + "/.inbox-staging/sub");
  write_file(html_ + "/.inbox-staging/junk", "x");
  write_file(html_ + "/.inbox-staging/.rsync-temp", "x");  // another's copy under way
  fs::create_directory_symlink("/", html_ + "/.inbox-staging/up");
  message a = file("south", "east1", "first\n");
  EXPECT_EQ("linked " + a.id + " east1\n", deliver(framed(a)));
  EXPECT_EQ(std::vector<std::string>{".rsync-temp"}, [&] {
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(html_ + "/.inbox-staging")) {
      left.push_back(e.path().filename());
    }
    return left;
  }());
  // A site whose boxes are links is not delivered to.
  fs::remove_all(html_ + "/inbox");
  fs::create_directory_symlink(dir_ / "elsewhere", html_ + "/inbox");
  deliver(framed(file("south", "east2", "x")));
  EXPECT_EQ(1, status_);
  EXPECT_NE(std::string::npos, err_.str().find("is a symbolic link"));
}

}  // namespace
