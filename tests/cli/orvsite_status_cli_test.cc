// Black-box tests of `orvsite status` and of what `orvsite exchange`
// leaves for it (the exchange record and the log), on two sample sites
// side by side in a fresh temporary directory.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <ctime>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;

run_result orvsite(const std::vector<std::string>& args) {
  return test_util::run_program_args(test_util::program_path("orvsite"), args, "/", {});
}

// The value jq finds at `path` in `json` (one line), or the failure.
std::string jq(const std::string& json, const std::string& path) {
  run_result r = test_util::run_program_args("/usr/bin/jq", {"-c", path}, "/", {}, json);
  return r.status == 0 ? r.out : "jq failed (" + r.err + ") on:\n" + json;
}

// A time as the exchange log writes it: "2026-01-31T12:00:00Z".
std::string orvsite_time(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}
std::string iso_time_now() { return orvsite_time(platform::now_seconds()); }

class OrvsiteStatus : public ::testing::Test {
 protected:
  OrvsiteStatus() {
    for (const char* site : {"north", "east"}) {
      std::string html = site_dir(site) + "/html";
      std::filesystem::create_directories(html);
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) copy(samples + "/" + f, html + "/" + f);
      copy(samples + "/" + site + "/config.txt", html + "/config.txt");
      for (const char* f : {"orv_ftp_get.cmd", "orv_ftp_put.cmd"}) {
        copy(samples + "/" + f, html + "/" + f);
        ::chmod((html + "/" + f).c_str(), 0755);
      }
      std::filesystem::copy_file(test_util::program_path("orv"), site_dir(site) + "/orv.cgi");
    }
  }

  static void copy(const std::string& from, const std::string& to) {
    std::optional<std::string> text = read_file(from);
    ASSERT_TRUE(text) << from;
    write_file(to, *text);
  }

  std::string site_dir(const std::string& site) { return root_.path() + "/" + site; }
  std::string html(const std::string& site, const std::string& file) {
    return site_dir(site) + "/html/" + file;
  }

  // A query from north to east: one file in north's outbox.
  void ask_east() {
    run_result r = test_util::run_program(
        site_dir("north") + "/orv.cgi", site_dir("north"),
        {{"REQUEST_METHOD", "GET"},
         {"QUERY_STRING",
          "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
          "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave"
          "&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name"
          "&doc_id=q-1&i_am=mechanics%23%21&i_love=%21&i_hate=%21&i_behave=%21"
          "&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=Info_Gathering"
          "&sym_name=ask"}});
    ASSERT_EQ(0, r.status) << r.out;
    ASSERT_EQ(1u, test_util::list_dir(site_dir("north") + "/html/outbox").size());
  }

  // Sets the modification time of `path` `seconds` into the past.
  static void age(const std::string& path, int seconds) {
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) - std::chrono::seconds(seconds));
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(OrvsiteStatus, ExchangesRecordPeersAndLogWhatMovedAndWhatWasRefused) {
  ask_east();
  run_result sent = orvsite({"exchange", site_dir("north")});
  ASSERT_EQ(0, sent.status) << sent.err;
  // A file east cannot read waits beside north's query.
  write_file(html("east", "inbox/east17"), "not a message\n");
  run_result picked = orvsite({"exchange", site_dir("east")});
  ASSERT_EQ(0, picked.status) << picked.err;
  // A file for north in east's outbox: the next run sends it.
  write_file(html("east", "outbox/north1700000000"), "x\n");
  run_result answered = orvsite({"exchange", site_dir("east")});
  ASSERT_EQ(0, answered.status) << answered.err;

  // The log of each site, one line per run that moved something and one per
  // refused file, each with its time.
  std::string north_log = read_file(html("north", "log/exchange.log")).value_or("");
  EXPECT_NE(std::string::npos, north_log.find("Z " + site_dir("north") +
                                              ": sent 1 message (east 1), picked up 0 messages\n"))
      << north_log;
  std::string east_log = read_file(html("east", "log/exchange.log")).value_or("");
  EXPECT_NE(std::string::npos,
            east_log.find(site_dir("east") + ": refused: The incoming file inbox/east17 cannot be "
                                             "processed: it does not hold a message; it is moved "
                                             "to inbox/rejected.\n"))
      << east_log;
  EXPECT_NE(std::string::npos, east_log.find(": sent 0 messages, picked up 1 message (north 1)\n"))
      << east_log;
  EXPECT_NE(std::string::npos, east_log.find(": sent 1 message (north 1), picked up 0 messages\n"))
      << east_log;

  // east knows it heard from north and answered it; it is in order, with
  // its refused file counted.
  run_result status = orvsite({"status", "--json", site_dir("east")});
  EXPECT_EQ(0, status.status) << status.out << status.err;
  EXPECT_EQ("false\n", jq(status.out, ".needs_attention"));
  EXPECT_EQ("1\n", jq(status.out, ".sites[0].rejected"));
  EXPECT_EQ("[\"north\",true,true,null]\n",
            jq(status.out, ".sites[0].peers[0] | [.orv_id, .last_send > 0, .last_receive > 0, "
                           ".failing_since]"));
  EXPECT_EQ(3, std::count(east_log.begin(), east_log.end(), '\n')) << "nothing else: " << east_log;
  run_result text = orvsite({"status", site_dir("east")});
  EXPECT_EQ(0, text.status);
  EXPECT_NE(std::string::npos, text.out.find(site_dir("east") + " (orv id east): in order\n"))
      << text.out;
  EXPECT_NE(std::string::npos, text.out.find("  rejected: 1 file in html/inbox/rejected\n"))
      << text.out;
}

TEST_F(OrvsiteStatus, AFailingPeerAndOldFilesNeedTheOperator) {
  // A message for a site no script can reach stays in outbox: the send to
  // it fails, with the transfer script's words as the cause.
  write_file(html("north", "outbox/ghost1700000000"), "x\n");
  run_result r = orvsite({"exchange", site_dir("north")});
  EXPECT_EQ(0, r.status) << r.err;
  std::string record = read_file(html("north", "exchange.state")).value_or("");
  EXPECT_NE(std::string::npos, record.find("\npeer ghost 0 0 ")) << record;
  EXPECT_NE(std::string::npos, record.find("ghost1700000000")) << "the cause names the file: " << record;
  std::string log = read_file(html("north", "log/exchange.log")).value_or("");
  EXPECT_NE(std::string::npos,
            log.find(site_dir("north") + ": sending to ghost failed (1 file left in outbox): "))
      << log;

  // Fresh, it does not yet need anyone.
  EXPECT_EQ(0, orvsite({"status", site_dir("north")}).status);

  // Two hours later: the peer has failed and the file has waited too long.
  std::int64_t then = platform::now_seconds() - 7200;
  std::string old = record;
  size_t at = old.find("\npeer ghost 0 0 ") + 16;
  size_t end = old.find(' ', at);
  old.replace(at, end - at, std::to_string(then));
  write_file(html("north", "exchange.state"), old);
  age(html("north", "outbox/ghost1700000000"), 7200);
  run_result status = orvsite({"status", site_dir("north"), site_dir("east")});
  EXPECT_EQ(1, status.status) << status.out;
  EXPECT_NE(std::string::npos, status.out.find(site_dir("north") + " (orv id north): NEEDS THE OPERATOR\n"
                                               "  ! sends to ghost have failed for 2h 0m: "))
      << status.out;
  EXPECT_NE(std::string::npos, status.out.find("  ! outbox: a file has waited 2h 0m\n")) << status.out;
  EXPECT_NE(std::string::npos, status.out.find(site_dir("east") + " (orv id east): in order\n"))
      << status.out;
  // Thresholds above the age leave it in order.
  EXPECT_EQ(0, orvsite({"status", "--failing-for", "3h", "--waiting-for", "1d", site_dir("north")})
                   .status);

  run_result json = orvsite({"status", "--json", site_dir("north"), site_dir("east")});
  EXPECT_EQ(1, json.status);
  EXPECT_EQ("true\n", jq(json.out, ".needs_attention"));
  EXPECT_EQ("[\"ghost\"," + std::to_string(then) + ",1,7200]\n",
            jq(json.out, ".sites[0].peers[] | select(.orv_id == \"ghost\") | [.orv_id, "
                         ".failing_since, .outbox.files, ((.outbox.oldest_age_seconds / 100) | "
                         "floor) * 100]"));
  EXPECT_EQ("[false]\n", jq(json.out, "[.sites[1].needs_attention]"));

  // The metrics, written whole for the node exporter.
  std::string prom = root_.path() + "/orv.prom";
  run_result metrics = orvsite({"status", "--prometheus", prom, site_dir("north"), site_dir("east")});
  EXPECT_EQ(1, metrics.status);
  EXPECT_EQ("", metrics.out);
  std::string text = read_file(prom).value_or("");
  std::string north = "{dir=\"" + site_dir("north") + "\",site=\"north\"";
  for (const std::string& line :
       {north + "} 1\n", north + ",peer=\"ghost\"} " + std::to_string(then) + "\n",
        "orvsite_peer_failing" + north + ",peer=\"ghost\"} 1\n",
        "orvsite_outbox_files" + north + "} 1\n",
        "orvsite_needs_attention{dir=\"" + site_dir("east") + "\",site=\"east\"} 0\n"}) {
    EXPECT_NE(std::string::npos, text.find(line)) << line << " in\n" << text;
  }
  if (platform::exists("/usr/bin/promtool")) {
    run_result check = test_util::run_program_args("/usr/bin/promtool", {"check", "metrics"}, "/",
                                                   {}, text);
    EXPECT_EQ(0, check.status) << check.out << check.err << text;
  }
  EXPECT_EQ(2, orvsite({"status", "--prometheus", root_.path() + "/no/such/dir.prom",
                        site_dir("north")})
                   .status);
}

TEST_F(OrvsiteStatus, InboxEntriesPickUpNeverTakesAreShown) {
  std::filesystem::create_directories(html("east", "inbox/east5"));
  std::filesystem::create_symlink("/etc/hostname", html("east", "inbox/east6"));
  write_file(html("east", "inbox/east\n7"), "x\n");
  write_file(html("east", "inbox/.east8"), "x\n");
  write_file(html("east", "inbox/.east9"), "a sender still writing\n");
  age(html("east", "inbox/.east8"), 7200);
  run_result status = orvsite({"status", "--json", site_dir("east")});
  EXPECT_EQ(1, status.status) << status.out;
  EXPECT_EQ("[[\".east8\",\"a hidden name\"],[\"east5\",\"a directory\"],[\"east6\",\"a symbolic "
            "link\"],[\"east\\\\n7\",\"a name with a control character\"]]\n",
            jq(status.out, "[.sites[0].inbox_untakeable[] | [.name, .why]]"));
  run_result text = orvsite({"status", site_dir("east")});
  EXPECT_NE(std::string::npos,
            text.out.find("  ! inbox: 4 entries pick-up will never take (.east8: a hidden name, ...)\n"))
      << text.out;
  EXPECT_NE(std::string::npos, text.out.find("  inbox: east5: a directory, never picked up\n"))
      << text.out;
}

TEST_F(OrvsiteStatus, StagingAndRefusalsArePerPeer) {
  std::filesystem::create_directories(html("east", ".inbox-staging/done"));
  write_file(html("east", ".inbox-staging/north.east1700000001.0123abcd"), "0123456789");
  write_file(html("east", ".inbox-staging/north.east1700000002.4567abcd"), "01234");
  write_file(html("east", ".inbox-staging/done/north.east1.89ab"), "");
  std::filesystem::create_directories(html("east", "log"));
  write_file(html("east", "log/exchange.log"),
             iso_time_now() + " " + site_dir("east") +
                 ": refused: north.east1700000003.ffff from north: over the size limit\n" +
                 "2020-01-01T00:00:00Z " + site_dir("east") + ": refused: an old one from north\n");
  run_result status = orvsite({"status", "--json", site_dir("east")});
  EXPECT_EQ(0, status.status) << "fresh staging and a refusal alone are shown, not alarms: "
                              << status.out;
  EXPECT_EQ("[[\"north\",2,15,1]]\n",
            jq(status.out, "[.sites[0].staging[] | [.peer, .files, .bytes, .refused]]"));
  EXPECT_EQ("1\n", jq(status.out, ".sites[0].refusals.last_day"));
  // A delivery staged long ago and never linked in needs the operator.
  age(html("east", ".inbox-staging/north.east1700000001.0123abcd"), 7200);
  run_result text = orvsite({"status", site_dir("east")});
  EXPECT_EQ(1, text.status) << text.out;
  EXPECT_NE(std::string::npos,
            text.out.find("  ! html/.inbox-staging: a delivery has waited 2h 0m to be linked into inbox\n"))
      << text.out;
  EXPECT_NE(std::string::npos,
            text.out.find("  staging from north: 2 files, 15 bytes; 1 refusal in the last day\n"))
      << text.out;
  std::string prom = root_.path() + "/east.prom";
  EXPECT_EQ(1, orvsite({"status", "--prometheus", prom, site_dir("east")}).status);
  std::string metrics = read_file(prom).value_or("");
  EXPECT_NE(std::string::npos,
            metrics.find("orvsite_peer_staging_bytes{dir=\"" + site_dir("east") +
                         "\",site=\"east\",peer=\"north\"} 15\n"))
      << metrics;
}

TEST_F(OrvsiteStatus, AnExchangeThatDiedIsSeenAtOnceAndLogged) {
  EXPECT_EQ(0, orvsite({"exchange", site_dir("north")}).status);
  EXPECT_FALSE(platform::exists(html("north", "exchange.running"))) << "a run that ends unmarks";
  // What a run killed on the way leaves behind.
  std::int64_t started = platform::now_seconds() - 30;
  write_file(html("north", "exchange.running"), "4000000 " + std::to_string(started) + "\n");
  run_result status = orvsite({"status", "--json", site_dir("north")});
  EXPECT_EQ(1, status.status);
  EXPECT_EQ("[" + std::to_string(started) + ",4000000]\n",
            jq(status.out, "[.sites[0].died.started, .sites[0].died.pid]"));
  EXPECT_NE(std::string::npos, jq(status.out, ".sites[0].attention[0]").find("died without finishing"));
  EXPECT_EQ(0, orvsite({"exchange", site_dir("north")}).status);
  std::string log = read_file(html("north", "log/exchange.log")).value_or("");
  EXPECT_NE(std::string::npos, log.find(": the exchange started " + orvsite_time(started) +
                                        " by pid 4000000 died without finishing\n"))
      << log;
  EXPECT_EQ(0, orvsite({"status", site_dir("north")}).status);
}

TEST_F(OrvsiteStatus, ALockHeldTooLongNamesItsHolder) {
  write_file(html("north", "exchange.conf"), "# this site's limits\nlock-held-for 1s\n");
  write_file(html("north", "run.lock"), "");
  platform::run_lock held(html("north", "run.lock"));
  ASSERT_TRUE(held.held());
  // Process start times are told in whole seconds: well past the limit.
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  run_result status = orvsite({"status", "--json", site_dir("north")});
  EXPECT_EQ(1, status.status) << status.out;
  EXPECT_EQ("[\"html/run.lock\"," + std::to_string(platform::process_id()) + ",true]\n",
            jq(status.out, ".sites[0].locks[0] | [.file, .pid, .held_seconds >= 1]"));
  EXPECT_NE(std::string::npos,
            jq(status.out, ".sites[0].attention[0]")
                .find("html/run.lock has been held for ")) << status.out;
  EXPECT_NE(std::string::npos,
            jq(status.out, ".sites[0].attention[0]")
                .find(" by pid " + std::to_string(platform::process_id())));
}

TEST_F(OrvsiteStatus, EachSiteHasItsOwnLimits) {
  // A peer failing for two minutes: in order by the defaults, not by a
  // site that allows one minute; the command line decides for all.
  write_file(html("north", "exchange.state"),
             "site 1 0 0\npeer east 0 0 " + std::to_string(platform::now_seconds() - 120) +
                 " 1 orv_ftp_put.cmd: cannot reach east\n");
  EXPECT_EQ(0, orvsite({"status", site_dir("north")}).status);
  write_file(html("north", "exchange.conf"), "failing-for 1m\nretry 2m\n");
  run_result status = orvsite({"status", site_dir("north")});
  EXPECT_EQ(1, status.status);
  EXPECT_NE(std::string::npos, status.out.find("  ! sends to east have failed for 2m ")) << status.out;
  EXPECT_EQ(0, orvsite({"status", "--failing-for", "1h", site_dir("north")}).status);
  // Little free disk space, and a line that does not read.
  write_file(html("north", "exchange.conf"), "free-space-below 100000G\nlock-held-for soon\n");
  run_result disk = orvsite({"status", site_dir("north")});
  EXPECT_EQ(1, disk.status);
  EXPECT_NE(std::string::npos, disk.out.find("  ! the disk of the site has ")) << disk.out;
  EXPECT_NE(std::string::npos,
            disk.out.find("  ! html/exchange.conf does not read, line 2: soon is not a time"))
      << disk.out;
}

TEST_F(OrvsiteStatus, UnderSystemdTheLogIsTheJournal) {
  // The service manager names the journal's stream in JOURNAL_STREAM; the
  // lines then go there with their priority, and no file is written.
  write_file(html("north", "outbox/ghost1700000000"), "x\n");
  std::string err_file = root_.path() + "/journal";
  run_result r = test_util::run_program_args(
      "/bin/sh",
      {"-c", "exec 2>\"$1\"; JOURNAL_STREAM=$(stat -L -c %d:%i \"$1\") exec \"$2\" exchange \"$3\"",
       "sh", err_file, test_util::program_path("orvsite"), site_dir("north")},
      "/", {{"PATH", "/usr/bin:/bin"}});
  EXPECT_EQ(0, r.status) << r.err;
  std::string journal = read_file(err_file).value_or("");
  EXPECT_NE(std::string::npos,
            journal.find("<3>" + site_dir("north") + ": sending to ghost failed (1 file left in "
                                                     "outbox): orv_ftp_put.cmd: "))
      << journal;
  EXPECT_FALSE(platform::exists(html("north", "log/exchange.log")));
}

TEST_F(OrvsiteStatus, DamageIsReportedNotFatal) {
  // A damaged record: the lines that read still count, and the next
  // exchange writes it anew.
  write_file(html("north", "exchange.state"),
             "site 10 0 0\npeer east 20 30 0 0\npeer south twelve\n\x01\x02garbage\n");
  run_result status = orvsite({"status", "--json", site_dir("north")});
  EXPECT_EQ(0, status.status) << status.out;
  EXPECT_EQ("[\"line 3: a peer line does not hold four times\",\"line 4: neither a site nor a "
            "peer line\"]\n",
            jq(status.out, ".sites[0].exchange.damaged"));
  EXPECT_EQ("[20,30]\n", jq(status.out, ".sites[0].peers[0] | [.last_send, .last_receive]"));
  run_result r = orvsite({"exchange", site_dir("north")});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.err.find("html/exchange.state is damaged (line 3: ")) << r.err;
  EXPECT_EQ("[]\n", jq(orvsite({"status", "--json", site_dir("north")}).out,
                       ".sites[0].exchange.damaged"));

  // A damaged site file is a check failure; a directory that is no site
  // needs the operator too.
  write_file(html("north", "file.ic"), "not a store\n");
  run_result damaged = orvsite({"status", site_dir("north"), root_.path()});
  EXPECT_EQ(1, damaged.status);
  EXPECT_NE(std::string::npos, damaged.out.find("  check: html/file.ic: ")) << damaged.out;
  EXPECT_NE(std::string::npos, damaged.out.find(root_.path() + ": NEEDS THE OPERATOR\n  ! not a site"))
      << damaged.out;
  EXPECT_EQ(2, orvsite({"status", "--waiting-for", "soon", site_dir("north")}).status);
}

TEST_F(OrvsiteStatus, JsonStaysValidForAnyDirectoryName) {
  // A name in Latin-1, not UTF-8: each stray byte becomes U+FFFD, the
  // rest of the name is kept.
  std::string odd = root_.path() + "/caf\xe9 \xc3\xa9t\xe9";
  std::filesystem::create_directory(odd);
  run_result status = orvsite({"status", "--json", odd});
  EXPECT_EQ(1, status.status);
  // jq would mend raw stray bytes itself, so the replacements are checked as
  // written: each stray byte is U+FFFD itself, the valid character stays.
  EXPECT_NE(std::string::npos, status.out.find("/caf\xef\xbf\xbd \xc3\xa9t\xef\xbf\xbd\","))
      << status.out;
  EXPECT_EQ("[\"" + root_.path() + "/caf\xef\xbf\xbd \xc3\xa9t\xef\xbf\xbd\",false]\n",
            jq(status.out, ".sites[0] | [.dir, .is_site]"));
}

TEST(OrvsiteLogrotate, TheShippedConfigurationReads) {
  if (!platform::exists("/usr/sbin/logrotate")) GTEST_SKIP() << "no logrotate";
  test_util::scoped_temp_dir dir;
  run_result r = test_util::run_program_args(
      "/usr/sbin/logrotate",
      {"--debug", "--state", dir.path() + "/state", std::string(SOURCE_DIR) + "/scripts/logrotate/index-cells"},
      "/", {});
  EXPECT_EQ(0, r.status) << r.out << r.err;
}

}  // namespace
