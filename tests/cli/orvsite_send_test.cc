// The pure parts of `orvsite send`: which peer a file is for, the header
// before each file of a delivery, and how ssh's words are reported.
#include "programs/orvsite/send_command.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

using orvsite::message_peer;

TEST(SendPeer, TheLongestIdThatBeginsTheNameBeforeDigitsOnly) {
  const std::vector<std::string> ids = {"east", "EastSide", "eastside", "north", "west2"};
  // Letter case aside, the id as the map writes it; the first of equal length.
  EXPECT_EQ("east", message_peer("EAST17000000001", ids));
  EXPECT_EQ("EastSide", message_peer("eastside17000000001", ids));
  // The rest must be digits, at least one.
  EXPECT_EQ("", message_peer("eastern17000000001", ids));
  EXPECT_EQ("", message_peer("north", ids));
  EXPECT_EQ("", message_peer("north1700.1", ids));
  // An id that ends in a digit still takes the name over a shorter one.
  EXPECT_EQ("west2", message_peer("west217000000001", {"west", "west2"}));
  EXPECT_EQ("", message_peer("south17000000001", ids));
  EXPECT_EQ("", message_peer("17000000001", {"", "east"}));
}

TEST(SendErrors, TheLast20LinesWithoutBlankOnesCutTo300Bytes) {
  std::string said;
  for (int i = 1; i <= 25; ++i) said += "line " + std::to_string(i) + "\r\n \t\n\n";
  said += std::string(400, 'x');  // a last line without a line feed
  std::string report = orvsite::error_report(said);
  std::string expected;
  for (int i = 7; i <= 25; ++i) expected += "orv_ftp_put.cmd:   line " + std::to_string(i) + "\n";
  expected += "orv_ftp_put.cmd:   " + std::string(300, 'x') + "\n";
  EXPECT_EQ(expected, report);
  EXPECT_EQ("", orvsite::error_report("\r\n  \n"));
}

}  // namespace
