// Black-box tests of orv with bad input and half-finished runs: incoming
// files it cannot process, configuration values config.txt cannot hold, a
// transition that feeds itself, a lost id counter, bars in field values,
// temporary files of killed saves and name records of unsaved creates.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& header = test_util::cgi_header;

// NOTE, made by MSG_CREATE, goes to state 1, nothing else.
const char* const note_fg = "0\n1\n1\n1,X1\n0\n0\n0\n0\n";
// LOOP sends every MSG_CREATE it gets back to itself.
const char* const loop_fg = "0\n0\n1\n1\n0\n1\n-9\n1\n1\n0\n";
// BROKEN cannot be read: its transition stops half-way.
const char* const broken_fg = "0\n1\n1\n1,X1\n";

// An incoming message file asking `orv_id`'s site to create a cell of
// `ic_type` named `name`.
std::string incoming(const std::string& msg_type, const std::string& ic_type,
                     const std::string& name) {
  return "3\n0\n2\n0\n-1\n" + msg_type + "\n" + ic_type + "\n" + name +
         "\nsrv9\neast\n" + ic_type + "\n-1\ns\nsrv1\nnorth\n" + ic_type + "\n0\ns\n0\nhi|NULL\n";
}

class OrvFaultsCli : public ::testing::Test {
 protected:
  OrvFaultsCli() {
    ::mkdir((site_ / "html").c_str(), 0755);
    write_file(html("config.txt"), test_util::north_config);
    write_file(html("site.config"), "2\n0 north\n1 east\n0 4\n4 0\n");
    write_file(html("kb.txt"), "science (\n  physics\n)\n");
    write_file(html("NOTE.in"), note_fg);
  }

  std::string html(const std::string& rel) { return site_ / ("html/" + rel); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("orv"), site_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // Puts a message file into the inbox, `age` seconds old.
  void deliver(const std::string& name, const std::string& text, int age) {
    write_file(html("inbox/" + name), text);
    struct timespec times[2] = {{1000000000 - age, 0}, {1000000000 - age, 0}};
    ::utimensat(AT_FDCWD, html("inbox/" + name).c_str(), times, 0);
  }

  // The lines of file.ic that begin with `label`, in file order.
  std::vector<std::string> store_lines(const std::string& label) {
    std::vector<std::string> r;
    std::string s = read_file(html("file.ic")).value_or("");
    for (size_t at = 0; at < s.size();) {
      size_t e = s.find('\n', at);
      std::string line = s.substr(at, e - at);
      if (line.rfind(label, 0) == 0) r.push_back(line.substr(label.size()));
      at = e == std::string::npos ? s.size() : e + 1;
    }
    return r;
  }

  std::set<std::string> stored_names() {
    std::vector<std::string> v = store_lines("ic symbolic name: ");
    return {v.begin(), v.end()};
  }

  test_util::scoped_temp_dir site_;
};

TEST_F(OrvFaultsCli, PickUpSetsAsideWhatItCannotProcessAndSavesTheRest) {
  write_file(html("BROKEN.in"), broken_fg);
  deliver("north1", incoming("MSG_CREATE", "NOTE", "a"), 50);
  deliver("north2", incoming("MSG_NO_SUCH_TYPE", "NOTE", "x"), 40);
  deliver("north3", incoming("MSG_CREATE", "GHOST", "y"), 30);
  deliver("north4", incoming("MSG_CREATE", "BROKEN", "z"), 20);
  deliver("north5", incoming("MSG_CREATE", "NOTE", "b"), 10);

  run_result r = get("message_type=SYS_PICK_UP_MSG&flag=orv");
  EXPECT_EQ(0, r.status);
  for (const char* line :
       {"Error: The incoming file inbox/north2 cannot be processed: unknown message type "
        "MSG_NO_SUCH_TYPE; it is moved to inbox/rejected.\n<p>",
        "Error: The incoming file inbox/north3 cannot be processed: no fg functions file "
        "GHOST.in for its ic type; it is moved to inbox/rejected.\n<p>",
        "Error: The incoming file inbox/north4 cannot be processed: its processing ended the "
        "run; it is moved to inbox/rejected.\n<p>The pick-up starts again without it.\n<p>"}) {
    EXPECT_NE(std::string::npos, r.out.find(line)) << line << "\n" << r.out;
  }
  EXPECT_EQ((std::set<std::string>{"a", "b"}), stored_names());
  EXPECT_EQ(2u, store_lines("id: ").size()) << "each message once, the retried one too";
  EXPECT_EQ((std::vector<std::string>{"rejected"}), test_util::list_dir(html("inbox")));
  EXPECT_EQ((std::vector<std::string>{"north2", "north3", "north4"}),
            test_util::list_dir(html("inbox/rejected")));
  // The naming database holds the cells of the store and nothing else.
  std::string names = read_file(html("name_db")).value_or("");
  EXPECT_EQ(std::string::npos, names.find("\nz\n")) << names;
  EXPECT_NE(std::string::npos, names.find("\na\n"));
  EXPECT_NE(std::string::npos, names.find("\nb\n"));
}

TEST_F(OrvFaultsCli, ARejectedMessageTakesItsContentFileAlong) {
  write_file(html("BROKEN.in"), broken_fg);
  // The same messages with their content in a file of the inbox
  // (content_flag -1, the content line naming the file).
  auto with_content_file = [](std::string text, const std::string& file) {
    const std::string tail = "\n0\nhi|NULL\n";
    return text.replace(text.size() - tail.size(), tail.size(), "\n-1\n" + file + "\n");
  };
  deliver("north1", with_content_file(incoming("MSG_CREATE", "NOTE", "a"), "body1"), 50);
  deliver("north2", with_content_file(incoming("MSG_NO_SUCH_TYPE", "NOTE", "x"), "body2"), 40);
  deliver("north3", with_content_file(incoming("MSG_CREATE", "BROKEN", "z"), "body3"), 30);
  for (const char* body : {"body1", "body2", "body3"}) deliver(body, "hi|NULL\n", 60);

  run_result r = get("message_type=SYS_PICK_UP_MSG&flag=orv");
  EXPECT_EQ(0, r.status);
  for (const char* line :
       {"Error: The incoming file inbox/body2 cannot be processed: it is the content file of "
        "inbox/north2; it is moved to inbox/rejected.\n<p>",
        "Error: The incoming file inbox/north3 cannot be processed: its processing ended the "
        "run; it is moved to inbox/rejected.\n<p>Error: The incoming file inbox/body3 cannot be "
        "processed: it is the content file of inbox/north3; it is moved to inbox/rejected.\n<p>"}) {
    EXPECT_NE(std::string::npos, r.out.find(line)) << line << "\n" << r.out;
  }
  EXPECT_EQ((std::set<std::string>{"a"}), stored_names());
  EXPECT_EQ((std::vector<std::string>{"rejected"}), test_util::list_dir(html("inbox")))
      << "the accepted message's content file is removed with it";
  EXPECT_EQ((std::vector<std::string>{"body2", "body3", "north2", "north3"}),
            test_util::list_dir(html("inbox/rejected")));
}

TEST_F(OrvFaultsCli, ConfigurationValuesTheFileCannotHoldAreRefused) {
  std::string before = *read_file(html("config.txt"));
  const std::pair<const char*, const char*> refused[] = {
      {"ORV_ID%7C%20%20", "The value of \"ORV_ID\" must not be blank.\n"},
      {"SERVER_ID%7Ca%0Ab", "The value of \"SERVER_ID\" must be one line.\n"},
      {"SET_EMAIL_ADDRESS%7Ca%0Db", "The value of \"SET_EMAIL_ADDRESS\" must be one line.\n"},
      {"RETRIEVE_THRESHOLD%7Cabc", "The value of \"RETRIEVE_THRESHOLD\" must be a number.\n"},
      {"VG_THRESHOLD%7C7x", "The value of \"VG_THRESHOLD\" must be a number.\n"},
  };
  for (const auto& [content, line] : refused) {
    run_result r = get(std::string("message_type=MSG_UPDATE_CONFIG&flag=orv&content=") + content);
    EXPECT_EQ(header + line, r.out) << content;
    EXPECT_EQ(before, read_file(html("config.txt"))) << content;
  }
  run_result shown = get("message_type=MSG_SHOW_CONFIG&flag=orv");
  EXPECT_NE(std::string::npos, shown.out.find("ORV ID = north <p> \n")) << shown.out;
  run_result ok = get("message_type=MSG_UPDATE_CONFIG&flag=orv&content=ORV_ID%7Cnorth%20pole");
  EXPECT_EQ(header + "\"ORV_ID\" is updated with the new value \"north pole\".\n", ok.out);
}

TEST_F(OrvFaultsCli, ATransitionThatFeedsItselfStopsAtTheBound) {
  write_file(html("LOOP.in"), loop_fg);
  run_result r = get("message_type=MSG_CREATE&flag=new&ic_type=LOOP&ic_sym_name=l&content=hi");
  EXPECT_EQ(0, r.status);
  const std::string line =
      "The IC manager stops after 100000 messages: a transition may feed itself.<p>\n";
  ASSERT_GE(r.out.size(), line.size());
  EXPECT_EQ(line, r.out.substr(r.out.size() - line.size()));
  EXPECT_NE(std::string::npos, read_file(html("dump_file")).value_or("").find(line));
  EXPECT_EQ((std::set<std::string>{"l"}), stored_names()) << "the state reached is saved";
  // The lock is free and the store reads.
  EXPECT_EQ(header + "Unknown ic type: LOOP\nAll Vantles are restored.<p>\n",
            get("message_type=SYS_RESTORE&flag=orv").out);
}

TEST_F(OrvFaultsCli, ALostIdCounterGoesOnAfterTheHighestStoredId) {
  for (const char* name : {"n1", "n2", "n3"}) {
    get(std::string("message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=") +
        name);
  }
  for (const char* counter : std::vector<const char*>{"", "garbage", nullptr}) {
    if (counter) {
      write_file(html("ic_id_counter"), counter);
    } else {
      ::unlink(html("ic_id_counter").c_str());
    }
    size_t before = store_lines("id: ").size();
    run_result r = get("message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x");
    std::string next = std::to_string(before + 1);
    EXPECT_NE(std::string::npos,
              r.out.find("The ic id counter ic_id_counter is missing or damaged: ids go on after " +
                         std::to_string(before) + ", the highest stored id.\n<p>"))
        << r.out;
    std::vector<std::string> ids = store_lines("id: ");
    std::set<std::string> distinct(ids.begin(), ids.end());
    EXPECT_EQ(ids.size(), distinct.size()) << "no stored id handed out again";
    EXPECT_TRUE(distinct.count(next)) << next;
  }
}

TEST_F(OrvFaultsCli, ABarInsideAFieldValueIsRefused) {
  run_result r = get(
      "message_type=MSG_CREATE&flag=new&ic_type=NOTE&ic_par_num=2&ic_par_1=doc_id&ic_par_2=i_am"
      "&doc_id=my+doc%7Cwith+bar&i_am=x");
  EXPECT_EQ(header + "The value of doc_id must not hold \"|\".\n", r.out);
  r = get("message_type=MSG_CREATE&flag=new&ic_type=NOTE&ic_par_num=1&ic_par_1=doc_id"
          "&doc_id=d&db_access=a%7Cb");
  EXPECT_EQ(header + "The value of db_access must not hold \"|\".\n", r.out);
  EXPECT_FALSE(read_file(html("file.ic"))) << "nothing written";
  EXPECT_FALSE(read_file(html("name_db")));
  // The content of the old version is a "|"-list itself.
  r = get("message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=a%7Cb&ic_sym_name=c");
  EXPECT_EQ((std::set<std::string>{"c"}), stored_names()) << r.out;
}

TEST_F(OrvFaultsCli, TemporaryFilesOfKilledSavesAreRemovedByTheNextRun) {
  get("message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=n1");
  // Left by a run that no longer exists (no process can have that id).
  write_file(html("file.ic.part.999999999.0"), "id: 1\n");
  write_file(html("BACKUP/file.ic.b1.part.999999999.1"), "id: 1\n");
  write_file(html("name_counter.part.999999999.2"), "7");
  // Being written by a process that still runs: it stays.
  std::string live = "file.ic.part." + std::to_string(::getpid()) + ".0";
  write_file(html(live), "id: 1\n");
  get("message_type=SYS_RESTORE&flag=orv");
  std::vector<std::string> left;
  for (const std::string& dir : {html(""), html("BACKUP")}) {
    for (const std::string& n : test_util::list_dir(dir)) {
      if (n.find(".part.") != std::string::npos) left.push_back(n);
    }
  }
  EXPECT_EQ(std::vector<std::string>{live}, left);
}

TEST_F(OrvFaultsCli, NamesOfACreateWhoseStoreWasNotSavedAreFreeAgain) {
  const std::string form = "message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=";
  get(form + "first");
  std::string names_before = *read_file(html("name_db"));
  // The store cannot be saved: the run ends after the name is registered.
  ASSERT_EQ(0, ::rename(html("file.ic").c_str(), html("saved.ic").c_str()));
  ASSERT_EQ(0, ::mkdir(html("file.ic").c_str(), 0755));
  run_result failed = get(form + "second");
  EXPECT_EQ(1, failed.status) << failed.out;
  ASSERT_EQ(0, ::rmdir(html("file.ic").c_str()));
  ASSERT_EQ(0, ::rename(html("saved.ic").c_str(), html("file.ic").c_str()));

  run_result again = get(form + "second");
  EXPECT_EQ(std::string::npos, again.out.find("has already been used")) << again.out;
  EXPECT_EQ((std::set<std::string>{"first", "second"}), stored_names());
  std::string names = *read_file(html("name_db"));
  EXPECT_EQ(0u, names.find(names_before));
  EXPECT_EQ(14, std::count(names.begin(), names.end(), '\n')) << "two records: " << names;
}

TEST_F(OrvFaultsCli, AnIdCounterBelowTheStoredIdsIsPassed) {
  const std::string form = "message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=";
  get(form + "n1");
  get(form + "n2");
  get(form + "n3");
  write_file(html("ic_id_counter"), "2\n");  // an older copy put back beside the store
  run_result r = get(form + "n4");
  EXPECT_NE(std::string::npos,
            r.out.find("The ic id counter ic_id_counter holds 2, not above the stored id 3: ids "
                       "go on after it.\n<p>"))
      << r.out;
  std::vector<std::string> ids = store_lines("id: ");
  EXPECT_EQ(4u, std::set<std::string>(ids.begin(), ids.end()).size()) << "no id twice";
  EXPECT_EQ("5", read_file(html("ic_id_counter")));
}

// Every file of a site, with its text, but the run's own trace and lock.
std::map<std::string, std::string> site_files(const std::string& html) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(html)) {
    std::string rel = e.path().string().substr(html.size());
    if (!e.is_regular_file() || rel == "dump_file" || rel == "run.lock") continue;
    files[rel] = read_file(e.path().string()).value_or("?");
  }
  return files;
}

// A site file that exists but cannot be read is never taken for a missing
// one: the run says which and why, fails, and changes nothing.
TEST_F(OrvFaultsCli, AFileThatCannotBeReadStopsTheRunAndChangesNothing) {
  const std::string form = "message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=";
  get(form + "n1");
  write_file(html("vantle_db"), "v\ndoc\n");
  write_file(html("name_counter"), "4");
  test_util::give_to_unprivileged(site_.path());
  const std::map<std::string, std::string> before = site_files(html(""));
  for (const char* file : {"file.ic", "name_db", "vantle_db", "ic_id_counter", "name_counter",
                           "config.txt", "site.config", "kb.txt"}) {
    ASSERT_EQ(0, ::chmod(html(file).c_str(), 0));
    for (const char* query : {"create", "SYS_PICK_UP_MSG", "SYS_BACKUP"}) {
      deliver("north1", incoming("MSG_CREATE", "NOTE", "a"), 10);
      test_util::give_to_unprivileged(html("inbox"));
      std::string q = std::string(query) == "create" ? form + "n2"
                                                      : "message_type=" + std::string(query) +
                                                            "&flag=orv";
      run_result r = test_util::run_program_unprivileged(
          test_util::program_path("orv"), site_.path(),
          {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", q}});
      EXPECT_EQ(1, r.status) << file << " " << query << "\n" << r.out;
      EXPECT_NE(std::string::npos, r.out.find(std::string(file) + ": Permission denied"))
          << file << " " << query << "\n" << r.out;
      std::map<std::string, std::string> after = site_files(html(""));
      after.erase("inbox/north1");
      EXPECT_EQ(before, after) << file << " " << query;
      EXPECT_TRUE(read_file(html("inbox/north1"))) << "the message waits in inbox";
    }
    ASSERT_EQ(0, ::chmod(html(file).c_str(), 0644));
  }
  // A directory the run must write, that it cannot.
  for (const char* dir : {"BACKUP", "inbox", ""}) {
    ASSERT_EQ(0, ::chmod(html(dir).c_str(), 0555));
    run_result r = test_util::run_program_unprivileged(
        test_util::program_path("orv"), site_.path(),
        {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "message_type=SYS_PICK_UP_MSG&flag=orv"}});
    EXPECT_EQ(1, r.status) << dir << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Permission denied")) << dir << "\n" << r.out;
    std::map<std::string, std::string> after = site_files(html(""));
    after.erase("inbox/north1");
    EXPECT_EQ(before, after) << dir;
    ASSERT_EQ(0, ::chmod(html(dir).c_str(), 0755));
  }
}

// A site file that is not a plain file of the site (a link to a copy
// outside, a FIFO) is refused like an unreadable one: never followed,
// never waited on, and the run changes nothing.
TEST_F(OrvFaultsCli, AFileThatIsNotAPlainFileOfTheSiteStopsTheRunAndChangesNothing) {
  const std::string form = "message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=";
  get(form + "n1");
  write_file(html("vantle_db"), "v\ndoc\n");
  write_file(html("name_counter"), "4");
  const std::string outside = site_.path() + "/outside";
  for (const char* file : {"file.ic", "name_db", "vantle_db", "ic_id_counter", "name_counter",
                           "config.txt", "site.config", "kb.txt", "NOTE.in"}) {
    for (bool fifo : {false, true}) {
      const std::string text = read_file(html(file)).value_or("");
      std::map<std::string, std::string> before = site_files(html(""));
      before.erase("inbox/north1");
      ASSERT_EQ(0, ::rename(html(file).c_str(), outside.c_str()));
      if (fifo) {
        ASSERT_EQ(0, ::mkfifo(html(file).c_str(), 0644));
      } else {
        ASSERT_EQ(0, ::symlink(outside.c_str(), html(file).c_str()));
      }
      for (const char* query : {"create", "SYS_PICK_UP_MSG"}) {
        deliver("north1", incoming("MSG_CREATE", "NOTE", "a"), 10);
        std::string q = std::string(query) == "create"
                            ? form + "n2"
                            : "message_type=" + std::string(query) + "&flag=orv";
        run_result r = get(q);
        EXPECT_EQ(1, r.status) << file << " " << query << "\n" << r.out;
        EXPECT_NE(std::string::npos,
                  r.out.find(std::string(file) + ": not a plain file of the site"))
            << file << " " << query << "\n" << r.out;
        EXPECT_EQ(text, read_file(outside).value_or("?")) << file << " " << query;
      }
      ASSERT_EQ(0, ::unlink(html(file).c_str()));
      ASSERT_EQ(0, ::rename(outside.c_str(), html(file).c_str()));
      std::map<std::string, std::string> after = site_files(html(""));
      after.erase("inbox/north1");
      EXPECT_EQ(before, after) << file;
    }
  }
}

// The folders a run moves site files through (taken incoming files,
// outgoing files before the save, backup copies) are the site's own: a
// link to a folder elsewhere stops every run, and nothing of that folder
// is moved into inbox or written there.
TEST_F(OrvFaultsCli, AFolderOfTheSiteThatIsALinkStopsTheRunAndMovesNothing) {
  const std::string form = "message_type=MSG_CREATE&flag=new&ic_type=NOTE&content=x&ic_sym_name=";
  get(form + "n1");
  const std::string outside = site_.path() + "/outside";
  ASSERT_EQ(0, ::mkdir(outside.c_str(), 0755));
  // What a pick-up would take for a killed run's file and put into inbox.
  write_file(outside + "/north5", incoming("MSG_CREATE", "NOTE", "b"));
  const std::map<std::string, std::string> outside_before = site_files(outside);
  for (const char* dir : {"inbox.taken", "outbox.pending", "BACKUP"}) {
    const std::string aside = html(dir) + ".aside";
    if (::rename(html(dir).c_str(), aside.c_str()) != 0) {
      ASSERT_EQ(ENOENT, errno) << dir;
    }
    ASSERT_EQ(0, ::symlink(outside.c_str(), html(dir).c_str()));
    deliver("north1", incoming("MSG_CREATE", "NOTE", "a"), 10);
    std::map<std::string, std::string> before = site_files(html(""));
    for (const char* q : {"n2", "SYS_PICK_UP_MSG"}) {
      std::string query = std::string(q) == "n2" ? form + q : "message_type=" + std::string(q) + "&flag=orv";
      run_result r = get(query);
      EXPECT_EQ(1, r.status) << dir << " " << q << "\n" << r.out;
      EXPECT_NE(std::string::npos,
                r.out.find(std::string(dir) + ": not a folder of the site (a symbolic link)"))
          << dir << " " << q << "\n" << r.out;
      EXPECT_EQ(outside_before, site_files(outside)) << dir << " " << q;
      EXPECT_EQ(before, site_files(html(""))) << dir << " " << q;
    }
    ASSERT_EQ(0, ::unlink(html(dir).c_str()));
    ::rename(aside.c_str(), html(dir).c_str());
    ::unlink(html("inbox/north1").c_str());
  }
}

// An incoming file that pick-up cannot remove from inbox (here: another
// user's file in a shared inbox with the sticky bit) is never processed,
// however often pick-up runs; the others are.
TEST_F(OrvFaultsCli, AFileThatCannotBeTakenOutOfInboxIsNeverProcessed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user to own the file";
  test_util::give_to_unprivileged(site_.path());
  deliver("north1", incoming("MSG_CREATE", "NOTE", "a"), 20);
  deliver("north2", incoming("MSG_CREATE", "NOTE", "b"), 10);
  ASSERT_EQ(0, ::chown(html("inbox").c_str(), 0, 0));
  ASSERT_EQ(0, ::chmod(html("inbox").c_str(), 01777));
  ASSERT_EQ(0, ::chown(html("inbox/north2").c_str(), test_util::unprivileged_id,
                       test_util::unprivileged_id));  // north1 stays root's
  for (int run = 0; run < 2; ++run) {
    run_result r = test_util::run_program_unprivileged(
        test_util::program_path("orv"), site_.path(),
        {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "message_type=SYS_PICK_UP_MSG&flag=orv"}});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos,
              r.out.find("Error: The incoming file inbox/north1 cannot be taken out of inbox "
                         "(Operation not permitted); it is not processed.\n<p>"))
        << r.out;
    EXPECT_EQ((std::set<std::string>{"b"}), stored_names()) << "run " << run;
    EXPECT_EQ((std::vector<std::string>{"north1"}), test_util::list_dir(html("inbox")));
  }
}

}  // namespace
