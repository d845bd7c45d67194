// orvsite exchange, called directly: its requests run in this process.
#include "programs/orvsite/exchange_command.h"

#include "gtest/gtest.h"
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "site/answer.h"
#include "site/request.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;

// Three sample sites side by side, as the sample put script expects them.
class ExchangeInProcess : public ::testing::Test {
 protected:
  ExchangeInProcess() {
    for (const char* site : {"north", "east", "south"}) {
      const std::string html = root_ / (std::string(site) + "/html");
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) {
        write_file(html + "/" + f, read_file(samples + "/" + f).value_or(""));
      }
      write_file(html + "/config.txt",
                 read_file(samples + "/" + site + "/config.txt").value_or(""));
      for (const char* f : {"orv_ftp_get.cmd", "orv_ftp_put.cmd"}) {
        write_file(html + "/" + f, read_file(samples + "/" + f).value_or(""));
        ::chmod((html + "/" + f).c_str(), 0755);
      }
    }
  }

  std::string site(const std::string& name) { return root_ / name; }

  // A query vantle of `name` about mechanics, made by a request run here.
  site::answer ask(const std::string& name) {
    formdecode::request rq;
    rq.request_method = "GET";
    rq.query_string =
        "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
        "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave"
        "&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name"
        "&doc_id=q-" + name + "&i_am=mechanics%23%21&i_love=%21&i_hate=%21&i_behave=%21"
        "&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=Info_Gathering&sym_name=ask";
    std::ostringstream page;
    formdecode::output out(page);
    site::answer a;
    try {
      site::run_request(rq, out, a, site::run_context{site(name) + "/html", nullptr});
    } catch (const formdecode::run_exit& e) {
      a.exit_status = e.status;
    }
    out.finish();
    return a;
  }

  test_util::scoped_temp_dir root_;
};

// The counts and senders of an exchange come from the answers' values: a
// page that words the pick-up otherwise changes nothing of them. The
// requests neither change nor write in the working directory.
TEST_F(ExchangeInProcess, CountsAndSendersDoNotDependOnThePageWording) {
  // The requests run from a directory of their own, which they must leave
  // alone: every file it reaches is the site's.
  test_util::scoped_temp_dir elsewhere;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path());
  ASSERT_EQ(0, ask("north").exit_status);
  ASSERT_EQ(0, ask("south").exit_status);
  std::ostringstream out, err;
  ASSERT_EQ(0, orvsite::exchange_site(site("north"), out, err)) << err.str();
  ASSERT_EQ(0, orvsite::exchange_site(site("south"), out, err)) << err.str();
  write_file(site("east") + "/html/inbox/east99", "not a message\n");

  int reworded = 0;
  orvsite::exchange_extras extras;
  extras.reword_page = [&](std::string_view piece) {
    std::string text(piece);
    const std::string words = "Pick up an incoming message from file: ";
    for (size_t at = text.find(words); at != std::string::npos; at = text.find(words)) {
      text.replace(at, words.size(), "Letter ");
      ++reworded;
    }
    return text;
  };
  std::ostringstream east_out, east_err;
  EXPECT_EQ(0, orvsite::exchange_site(site("east"), east_out, east_err, std::nullopt, extras))
      << east_err.str();
  EXPECT_EQ(2, reworded) << "each message taken is told on the page, in other words";
  EXPECT_NE(std::string::npos, east_out.str().find(", picked up 2 messages\n")) << east_out.str();
  const std::string log = read_file(site("east") + "/html/log/exchange.log").value_or("");
  EXPECT_NE(std::string::npos, log.find("picked up 2 messages (north 1, south 1)")) << log;
  EXPECT_NE(std::string::npos, log.find(site("east") + ": refused: ")) << log;
  EXPECT_EQ(std::filesystem::canonical(elsewhere.path()), std::filesystem::current_path());
  EXPECT_TRUE(test_util::list_dir(elsewhere.path()).empty()) << "nothing is written where it runs";
  std::filesystem::current_path(before);
}

}  // namespace
