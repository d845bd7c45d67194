#include "exchange/exchange.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/test_util.h"

namespace {

using engine::ext_message;
using test_util::list_dir;
using test_util::read_file;
using test_util::write_file;

// A message as a cell of north sends it to a vantle at east.
ext_message sample_message() {
  ext_message m;
  m.kind = engine::KIND_TYPE_NUMBER;
  m.pid = 0;
  m.flag = engine::IC_ID;
  m.reserved = 0;
  m.msg_type = 7;
  m.msg_type_name = "";
  m.ic_type = "VANTLE";
  m.ic_sym_name = "";
  m.sender = {"srv1", "north", "VANTLE", 12, 's'};
  m.receiver = {"srv2", "east", "VANTLE", 3, 'c'};
  m.content_flag = engine::CONTENT_TEXT;
  m.content = "a|b\nsecond line|NULL";
  return m;
}

const char* const sample_file =
    "2\n0\n1\n0\n7\n\nVANTLE\n\n"
    "srv1\nnorth\nVANTLE\n12\ns\n"
    "srv2\neast\nVANTLE\n3\nc\n"
    "0\na|b\nsecond line|NULL\n";

void expect_same(const ext_message& a, const ext_message& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.pid, b.pid);
  EXPECT_EQ(a.flag, b.flag);
  EXPECT_EQ(a.reserved, b.reserved);
  EXPECT_EQ(a.msg_type, b.msg_type);
  EXPECT_EQ(a.msg_type_name, b.msg_type_name);
  EXPECT_EQ(a.ic_type, b.ic_type);
  EXPECT_EQ(a.ic_sym_name, b.ic_sym_name);
  for (auto [x, y] : {std::pair{&a.sender, &b.sender}, std::pair{&a.receiver, &b.receiver}}) {
    EXPECT_EQ(x->server_id, y->server_id);
    EXPECT_EQ(x->orv_id, y->orv_id);
    EXPECT_EQ(x->ic_type, y->ic_type);
    EXPECT_EQ(x->ic_id, y->ic_id);
    EXPECT_EQ(x->flag, y->flag);
  }
  EXPECT_EQ(a.content_flag, b.content_flag);
  EXPECT_EQ(a.content, b.content);
}

TEST(MessageFile, WritesTwentyLinesAndReadsThemBack) {
  ext_message m = sample_message();
  std::string file = exchange::format_message_file(m);
  EXPECT_EQ(sample_file, file);
  std::optional<ext_message> back = exchange::parse_message_file(file);
  ASSERT_TRUE(back);
  expect_same(m, *back);
  EXPECT_EQ("a|b\nsecond line|NULL", back->content) << "two lines arrive as one content";
}

TEST(MessageFile, ZeroFlagCharacterAndMissingContentRoundTrip) {
  ext_message m = sample_message();
  m.sender.flag = 0;
  m.sender.ic_id = -1;
  m.content.reset();
  std::string file = exchange::format_message_file(m);
  EXPECT_EQ(std::string("srv1\nnorth\nVANTLE\n-1\n\0\nsrv2", 27),
            file.substr(file.find("srv1"), 27));
  std::optional<ext_message> back = exchange::parse_message_file(file);
  ASSERT_TRUE(back);
  expect_same(m, *back);
}

TEST(MessageFile, LineFeedsInTextFieldsCannotShiftLines) {
  ext_message m = sample_message();
  m.ic_sym_name = "two\nlines";
  std::optional<ext_message> back =
      exchange::parse_message_file(exchange::format_message_file(m));
  ASSERT_TRUE(back);
  EXPECT_EQ("two lines", back->ic_sym_name);
  EXPECT_EQ("srv1", back->sender.server_id);
  EXPECT_EQ(m.content, back->content);
}

TEST(MessageFile, ReadsWindowsLineEndsLongFieldsAndTrailingBlanks) {
  std::string text = sample_file;
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  crlf += "  \r\n\r\n";
  std::optional<ext_message> m = exchange::parse_message_file(crlf);
  ASSERT_TRUE(m);
  EXPECT_EQ("a|b\nsecond line|NULL", m->content);
  EXPECT_EQ("east", m->receiver.orv_id);
  EXPECT_EQ('c', m->receiver.flag);

  std::string long_type(70, 'T');
  std::string text2 = sample_file;
  text2.replace(text2.find("VANTLE"), 6, long_type);
  m = exchange::parse_message_file(text2);
  ASSERT_TRUE(m) << "longer lines are not refused";
  EXPECT_EQ(std::string(49, 'T'), m->ic_type);
}

TEST(MessageFile, RefusesTextsThatAreNoMessage) {
  std::string text = sample_file;
  // Only 18 lines.
  std::string short_text;
  int lines = 0;
  for (char c : text) {
    if (lines == 18) break;
    short_text += c;
    if (c == '\n') ++lines;
  }
  EXPECT_FALSE(exchange::parse_message_file(short_text));
  EXPECT_FALSE(exchange::parse_message_file(""));
  // Line 19 without its line feed and no content is still a message.
  std::optional<ext_message> m = exchange::parse_message_file(short_text + "0");
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->content);
  // A number line that is not a number.
  std::string bad = text;
  bad.replace(0, 1, "x");
  EXPECT_FALSE(exchange::parse_message_file(bad));
  std::string huge = text;
  huge.replace(0, 1, "99999999999");
  EXPECT_FALSE(exchange::parse_message_file(huge));
}

TEST(MessageFile, PlainNames) {
  EXPECT_TRUE(exchange::is_plain_name("east"));
  EXPECT_TRUE(exchange::is_plain_name("east.part"));
  EXPECT_FALSE(exchange::is_plain_name(""));
  EXPECT_FALSE(exchange::is_plain_name("a/b"));
  EXPECT_FALSE(exchange::is_plain_name("a\\b"));
  EXPECT_FALSE(exchange::is_plain_name(".."));
  EXPECT_FALSE(exchange::is_plain_name("x..y"));
}

// Tests that work on files run in a fresh site directory with `inbox` and
// `outbox`, as a run works in `html`.
class ExchangeTest : public test_util::in_run_dir {
 protected:
  ExchangeTest() {
    platform::make_directory("inbox");
    platform::make_directory("outbox");
  }

  // Puts a message file into `inbox` with the given modification second.
  void incoming(const std::string& name, const ext_message& m, time_t mtime) {
    write_file("inbox/" + name, exchange::format_message_file(m));
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, ("inbox/" + name).c_str(), times, 0));
  }

  std::string take_page() {
    std::string s = page_.str();
    page_.str("");
    return s;
  }

  exchange::exchange_state ex_;
};

TEST_F(ExchangeTest, SameSecondGetsSequenceNumbersAndNextSecondStartsAgain) {
  ext_message m = sample_message();
  EXPECT_EQ("outbox/east17000000000",
            exchange::write_outgoing_message_at(ex_, m, "east", 1700000000, out_));
  EXPECT_EQ("outbox/east17000000001",
            exchange::write_outgoing_message_at(ex_, m, "east", 1700000000, out_));
  EXPECT_EQ("outbox/south17000000002",
            exchange::write_outgoing_message_at(ex_, m, "south", 1700000000, out_))
      << "the number counts files of the second, whatever the site";
  EXPECT_EQ("outbox/east17000000010",
            exchange::write_outgoing_message_at(ex_, m, "east", 1700000001, out_));
  EXPECT_EQ(
      "\n<p>*** This virtual site sends an outgoing message <br>\n in file east17000000000 <p>"
      "\n<p>*** This virtual site sends an outgoing message <br>\n in file east17000000001 <p>"
      "\n<p>*** This virtual site sends an outgoing message <br>\n in file south17000000002 <p>"
      "\n<p>*** This virtual site sends an outgoing message <br>\n in file east17000000010 <p>",
      take_page());
  EXPECT_EQ(sample_file, read_file("outbox/east17000000000"));
  EXPECT_EQ((std::vector<std::string>{"east17000000000", "east17000000001", "east17000000010",
                                      "south17000000002"}),
            list_dir("outbox"));
  EXPECT_EQ((std::vector<std::string>{"dump_file", "inbox", "outbox"}), list_dir("."))
      << "nothing is left where the files were written aside";
}

TEST_F(ExchangeTest, TakenNameIsNeverReplaced) {
  // An earlier run wrote two files to east in this second.
  write_file("outbox/east17000000000", "earlier 0");
  write_file("outbox/east17000000001", "earlier 1");
  exchange::exchange_state fresh;
  EXPECT_EQ("outbox/east17000000002",
            exchange::write_outgoing_message_at(fresh, sample_message(), "east", 1700000000, out_));
  EXPECT_EQ("earlier 0", read_file("outbox/east17000000000"));
  EXPECT_EQ("earlier 1", read_file("outbox/east17000000001"));
  EXPECT_EQ("outbox/east17000000003",
            exchange::write_outgoing_message_at(fresh, sample_message(), "east", 1700000000, out_));
  EXPECT_NE(std::string::npos, take_page().find("in file east17000000003 <p>"));
}

TEST_F(ExchangeTest, OrvIdWithAPathIsRefused) {
  for (const char* id : {"../east", "a/b", "a\\b", ""}) {
    EXPECT_FALSE(exchange::write_outgoing_message_at(ex_, sample_message(), id, 1700000000, out_))
        << id;
  }
  EXPECT_EQ(
      "Error: Can't open file outbox/../east17000000000 in the directory outbox.\n<p>"
      "Error: Can't open file outbox/a/b17000000000 in the directory outbox.\n<p>"
      "Error: Can't open file outbox/a\\b17000000000 in the directory outbox.\n<p>"
      "Error: Can't open file outbox/17000000000 in the directory outbox.\n<p>",
      take_page());
  EXPECT_TRUE(list_dir("outbox").empty());
  EXPECT_EQ((std::vector<std::string>{"dump_file", "inbox", "outbox"}), list_dir("."));
  // The page gets the id escaped.
  exchange::write_outgoing_message_at(ex_, sample_message(), "<b>/x", 5, out_);
  EXPECT_EQ("Error: Can't open file outbox/&lt;b&gt;/x50 in the directory outbox.\n<p>",
            take_page());
}

TEST_F(ExchangeTest, MissingOutboxLosesTheMessageWithItsText) {
  ::rmdir("outbox");
  EXPECT_FALSE(exchange::write_outgoing_message_at(ex_, sample_message(), "east", 9, out_));
  EXPECT_EQ("Error: Can't open file outbox/east90 in the directory outbox.\n<p>", take_page());
}

TEST_F(ExchangeTest, PicksUpMatchingFilesOldestFirst) {
  ext_message m = sample_message();
  m.content = "third";
  incoming("EAST17000000020", m, 3000);
  m.content = "first";
  incoming("east17000000000", m, 1000);
  m.content = "second";
  incoming("East17000000010", m, 2000);
  m.content = "not ours";
  incoming("south17000000000", m, 500);
  incoming("my_east_file", m, 600);

  std::vector<std::string> contents;
  while (std::optional<ext_message> got = exchange::pick_up_message(ex_, "east", out_)) {
    contents.push_back(got->content.value_or(""));
  }
  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), contents);
  EXPECT_EQ(
      "<p>\nPick up an incoming message from file: inbox/east17000000000\n<p>"
      "<p>\nPick up an incoming message from file: inbox/East17000000010\n<p>"
      "<p>\nPick up an incoming message from file: inbox/EAST17000000020\n<p>",
      take_page());
  EXPECT_EQ((std::vector<std::string>{"EAST17000000020", "East17000000010", "east17000000000"}),
            list_dir(exchange::held_dir))
      << "taken out of inbox, kept until the save";
  exchange::remove_taken(ex_);
  EXPECT_TRUE(list_dir(exchange::held_dir).empty());
  EXPECT_EQ((std::vector<std::string>{"my_east_file", "south17000000000"}), list_dir("inbox"))
      << "files not addressed to this site stay";
}

// The inbox is listed once per pass: a file that comes during a pass is
// taken after the files of that listing, however old it is.
TEST_F(ExchangeTest, ListsTheInboxOncePerPass) {
  ext_message m = sample_message();
  m.content = "a";
  incoming("east_a", m, 100);
  m.content = "b";
  incoming("east_b", m, 200);
  std::vector<std::string> order;
  order.push_back(exchange::pick_up_message(ex_, "east", out_)->content.value_or(""));
  m.content = "c";
  incoming("east_c", m, 50);
  while (std::optional<ext_message> got = exchange::pick_up_message(ex_, "east", out_)) {
    order.push_back(got->content.value_or(""));
  }
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), order);
}

TEST_F(ExchangeTest, OrvIdOfThisSiteMatchesWithoutRegardToCase) {
  incoming("east1", sample_message(), 1000);
  EXPECT_TRUE(exchange::pick_up_message(ex_, "EaSt", out_));
  exchange::remove_taken(ex_);
  EXPECT_TRUE(list_dir("inbox").empty());
  incoming("east2", sample_message(), 1000);
  EXPECT_FALSE(exchange::pick_up_message(ex_, "", out_)) << "an empty id addresses nothing";
}

TEST_F(ExchangeTest, FileThatIsNoMessageIsMovedAsideAndReportedOnce) {
  write_file("inbox/east0", "garbage\n");
  struct timespec times[2] = {{100, 0}, {100, 0}};
  ::utimensat(AT_FDCWD, "inbox/east0", times, 0);
  incoming("east1", sample_message(), 200);
  EXPECT_TRUE(exchange::pick_up_message(ex_, "east", out_));
  EXPECT_FALSE(exchange::pick_up_message(ex_, "east", out_));
  EXPECT_EQ(
      "Error: The incoming file inbox/east0 cannot be processed: it does not hold a message; "
      "it is moved to inbox/rejected.\n<p>"
      "<p>\nPick up an incoming message from file: inbox/east1\n<p>",
      take_page());
  exchange::remove_taken(ex_);
  EXPECT_EQ((std::vector<std::string>{"rejected"}), list_dir("inbox"));
  EXPECT_EQ("garbage\n", read_file("inbox/rejected/east0"));
}

TEST_F(ExchangeTest, UnreadableFileGivesTheOpenError) {
  EXPECT_FALSE(exchange::read_message_file("inbox/none", out_));
  EXPECT_EQ("Error: Can't open the \"inbox/none\" file in the directory inbox.\n<p>",
            take_page());
}

TEST_F(ExchangeTest, MissingDirectoriesGiveTheListingErrors) {
  ::rmdir("inbox");
  ::rmdir("outbox");
  write_file("orv_ftp_put.cmd", "#!/bin/sh\ntouch put_ran\n");
  ::chmod("orv_ftp_put.cmd", 0755);
  EXPECT_FALSE(exchange::pick_up_message(ex_, "east", out_));
  exchange::send_outgoing_messages(out_);
  EXPECT_EQ(
      "Error: Can't open the \"tmp\" file for the directory inbox.\n<p>"
      "Error: Can't open the \"temp\" file for the directory outbox.\n<p>",
      take_page());
  EXPECT_FALSE(read_file("put_ran"));
}

TEST_F(ExchangeTest, SendCutShortRunsThePutScriptWithAnEmptyOutbox) {
  write_file("orv_ftp_put.cmd", "#!/bin/sh\ntouch put_ran\n");
  ::chmod("orv_ftp_put.cmd", 0755);
  exchange::send_outgoing_messages(out_);
  EXPECT_EQ("There is no outgoing message.\n", take_page());
  EXPECT_FALSE(read_file("put_ran")) << "nothing to send, nothing to finish";
  ASSERT_EQ(0, ::mkdir(exchange::cut_send_dir, 0755));
  write_file(std::string(exchange::cut_send_dir) + "/east1", "message\n");
  EXPECT_TRUE(exchange::send_outgoing_messages(out_).empty());
  EXPECT_EQ("There is no outgoing message.\nFinish the send cut short of: east1<br>\n",
            take_page());
  EXPECT_TRUE(read_file("put_ran"));
}

TEST_F(ExchangeTest, TakenFileWaitsUntilRemovedAndIsTakenOnce) {
  incoming("east1", sample_message(), 100);
  EXPECT_TRUE(exchange::pick_up_message(ex_, "east", out_));
  take_page();
  EXPECT_FALSE(exchange::pick_up_message(ex_, "east", out_));
  EXPECT_EQ("", take_page());
  EXPECT_TRUE(list_dir("inbox").empty());
  EXPECT_EQ((std::vector<std::string>{"east1"}), list_dir(exchange::held_dir));
  EXPECT_EQ((std::vector<std::string>{"inbox/east1"}), ex_.taken);
  // Undone, it goes back with its time, to be taken again in its turn.
  struct stat before;
  ASSERT_EQ(0, ::stat((std::string(exchange::held_dir) + "/east1").c_str(), &before));
  exchange::return_held();
  struct stat after;
  ASSERT_EQ(0, ::stat("inbox/east1", &after));
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  exchange::exchange_state again;
  EXPECT_TRUE(exchange::pick_up_message(again, "east", out_));
  exchange::remove_taken(again);
  EXPECT_TRUE(list_dir("inbox").empty());
  EXPECT_TRUE(list_dir(exchange::held_dir).empty());
}

TEST_F(ExchangeTest, ContentFileInsideInboxBecomesTheContent) {
  ext_message m = sample_message();
  m.content_flag = engine::CONTENT_FILE;
  m.content = "data_for_east";
  write_file("inbox/data_for_east", "line one\nline two\n");
  incoming("east1", m, 100);
  std::optional<ext_message> got = exchange::pick_up_message(ex_, "east", out_);
  ASSERT_TRUE(got);
  EXPECT_EQ(engine::CONTENT_TEXT, got->content_flag);
  EXPECT_EQ("line one\nline two\n", got->content);
  exchange::remove_taken(ex_);
  EXPECT_TRUE(list_dir("inbox").empty()) << "the content file is used up";
}

TEST_F(ExchangeTest, ContentFileOutsideInboxIsNeverReadOrRemoved) {
  write_file("config.txt", "site settings\n");
  for (const char* name : {"../config.txt", "/etc/passwd", "..", "sub\\x"}) {
    ext_message m = sample_message();
    m.content_flag = engine::CONTENT_FILE;
    m.content = name;
    incoming("east1", m, 100);
    exchange::exchange_state ex;
    std::optional<ext_message> got = exchange::pick_up_message(ex, "east", out_);
    ASSERT_TRUE(got) << name;
    EXPECT_EQ(engine::CONTENT_TEXT, got->content_flag) << name;
    EXPECT_FALSE(got->content) << name;
    exchange::remove_taken(ex);
    EXPECT_EQ(std::string("<p>\nPick up an incoming message from file: inbox/east1\n<p>"
                          "Error: The content file ") +
                  name +
                  " of the message is not a file in the directory inbox; the message has no "
                  "content.\n<p>",
              take_page());
  }
  EXPECT_EQ("site settings\n", read_file("config.txt"));

  ext_message m = sample_message();
  m.content_flag = engine::CONTENT_FILE;
  m.content = "missing";
  incoming("east2", m, 100);
  std::optional<ext_message> got = exchange::pick_up_message(ex_, "east", out_);
  ASSERT_TRUE(got);
  EXPECT_FALSE(got->content);
  EXPECT_NE(std::string::npos,
            take_page().find("Error: Can't open the content file \"inbox/missing\" in the "
                             "directory inbox; the message has no content.\n<p>"));
}

// The sample transfer scripts of samples/site move files between sites
// that live in sibling directories, as three sites on one machine do.
class SampleScripts : public ::testing::Test {
 protected:
  SampleScripts() : old_(::getcwd(nullptr, 0)), out_(page_) {
    std::string samples = std::string(SOURCE_DIR) + "/samples/site/";
    for (const char* site : {"north", "east", "south"}) {
      std::string html = root_ / (std::string(site) + "/html/");
      write_file(html + "config.txt", read_file(samples + site + "/config.txt").value_or(""));
      platform::make_directory(html + "inbox");
      platform::make_directory(html + "outbox");
      for (const char* script : {"orv_ftp_put.cmd", "orv_ftp_get.cmd"}) {
        write_file(html + script, read_file(samples + script).value_or(""));
        EXPECT_EQ(0, ::chmod((html + script).c_str(), 0755));
      }
    }
  }
  ~SampleScripts() override {
    if (::chdir(old_)) {}
    free(old_);
  }

  void at(const std::string& site) {
    ASSERT_EQ(0, ::chdir((root_ / (site + "/html")).c_str()));
  }

  // Writes a message from `from` to the site `to` at the given second, as
  // the first file of a run.
  void send(const std::string& from, const std::string& to, std::int64_t second,
            char sender_flag = 's') {
    at(from);
    ext_message m = sample_message();
    m.sender.orv_id = from;
    m.sender.flag = sender_flag;
    m.receiver.orv_id = to;
    exchange::exchange_state ex;
    ASSERT_TRUE(exchange::write_outgoing_message_at(ex, m, to, second, out_));
  }

  std::vector<std::string> files(const std::string& rel) { return list_dir(root_ / rel); }

  test_util::scoped_temp_dir root_;
  char* old_;
  std::ostringstream page_;
  formdecode::output out_;
};

TEST_F(SampleScripts, PutMovesFilesIntoTheTargetInboxWithoutReplacingAny) {
  // north and east both write to south in the same second: the same name.
  send("north", "SOUTH", 1700000000);
  send("north", "east", 1700000000);
  send("north", "west", 1700000000);
  send("east", "south", 1700000000);
  EXPECT_EQ(0, platform::run_site_script(exchange::put_script));  // at east
  at("north");
  EXPECT_EQ(1, platform::run_site_script(exchange::put_script)) << "a file stays";

  EXPECT_EQ((std::vector<std::string>{"SOUTH17000000000", "south17000000000"}),
            files("south/html/inbox"));
  EXPECT_EQ((std::vector<std::string>{"east17000000000"}), files("east/html/inbox"));
  EXPECT_EQ((std::vector<std::string>{"west17000000000"}), files("north/html/outbox"))
      << "a file for an unknown site stays";
  EXPECT_TRUE(files("east/html/outbox").empty());

  // A third file of the same name gets a suffix and keeps both others.
  send("east", "south", 1700000000);
  at("east");
  EXPECT_EQ(0, platform::run_site_script(exchange::put_script));
  EXPECT_EQ(
      (std::vector<std::string>{"SOUTH17000000000", "south17000000000", "south17000000000.1"}),
      files("south/html/inbox"));
  EXPECT_EQ((std::vector<std::string>{".inbox-link", ".incoming", "config.txt", "inbox",
                                      "orv_ftp_get.cmd", "orv_ftp_put.cmd", "outbox"}),
            files("south/html"));
  // Each delivery leaves a mark naming its sender, by which the pick-up
  // knows it.
  std::vector<std::string> marked;
  for (const std::string& mark : files("south/html/.inbox-link/done")) {
    marked.push_back(mark.substr(0, mark.find('.')));
  }
  std::sort(marked.begin(), marked.end());
  marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
  EXPECT_EQ((std::vector<std::string>{"east", "north"}), marked);
  EXPECT_EQ((std::vector<std::string>{".lock"}), files("south/html/.incoming"))
      << "nothing is left beside the inbox";

  // south picks all three up; the get script has nothing to fetch.
  at("south");
  EXPECT_EQ(0, platform::run_site_script(exchange::get_script));
  exchange::exchange_state ex;
  std::vector<std::string> senders;
  while (std::optional<ext_message> m = exchange::pick_up_message(ex, "south", out_)) {
    senders.push_back(m->sender.orv_id);
    EXPECT_EQ(m->sender.orv_id, ex.incoming.back().sender.value_or("")) << "known by its mark";
  }
  exchange::remove_taken(ex);
  std::sort(senders.begin(), senders.end());
  EXPECT_EQ((std::vector<std::string>{"east", "east", "north"}), senders);
  EXPECT_TRUE(files("south/html/inbox").empty());
}

TEST_F(SampleScripts, PickUpKnowsTheSenderOfEachFileOfOneNameFromTheLinkInsRecord) {
  // Answers written by copies of cells name no site, and north and east
  // wrote theirs to south in the same second (as sites started together
  // by cron do): one name, so one of them is linked in as NAME.1.
  send("north", "south", 1700000000, 'c');
  send("east", "south", 1700000000, 'c');
  EXPECT_EQ(0, platform::run_site_script(exchange::put_script));  // at east
  at("north");
  EXPECT_EQ(0, platform::run_site_script(exchange::put_script));
  ASSERT_EQ((std::vector<std::string>{"south17000000000", "south17000000000.1"}),
            files("south/html/inbox"));

  at("south");
  exchange::exchange_state ex;
  std::map<std::string, std::string> sender_of;
  while (exchange::pick_up_message(ex, "south", out_)) {
    const exchange::incoming_file& f = ex.incoming.back();
    sender_of[f.path] = f.sender.value_or("unknown");
  }
  EXPECT_EQ((std::map<std::string, std::string>{{"inbox/south17000000000", "east"},
                                                {"inbox/south17000000000.1", "north"}}),
            sender_of);
  // Once the messages took effect their records go with them, so they
  // never speak for a later file of the same name.
  exchange::remove_taken(ex);
  EXPECT_TRUE(files("south/html/.inbox-link/from").empty());
}

// Two sites that write files of one name to a third leave marks of one
// name: the hash the put script puts in each tells whose file is whose.
TEST_F(SampleScripts, MarksOfOneNameAreToldApartByTheirHash) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223", exchange::content_hash("abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039",
            exchange::content_hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  send("north", "south", 1700000000);
  EXPECT_EQ(0, platform::run_site_script(exchange::put_script));
  send("east", "south", 1700000000);
  EXPECT_EQ(0, platform::run_site_script(exchange::put_script));
  const std::vector<std::string> marks = files("south/html/.inbox-link/done");
  const std::vector<std::string> arrived = files("south/html/inbox");
  ASSERT_EQ((std::vector<std::string>{"south17000000000", "south17000000000.1"}), arrived);
  for (const std::string& name : arrived) {
    std::string text = read_file(root_ / ("south/html/inbox/" + name)).value_or("");
    std::optional<ext_message> m = exchange::parse_message_file(text);
    ASSERT_TRUE(m);
    EXPECT_FALSE(exchange::sender_by_marks(name, marks)) << "the name alone does not tell";
    EXPECT_EQ(m->sender.orv_id,
              exchange::sender_by_marks(name, marks, exchange::content_hash(text)).value_or(""));
  }
}

}  // namespace
