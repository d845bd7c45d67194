#include "site/form.h"

#include <sstream>

#include "gtest/gtest.h"

namespace {

using engine::ext_message;
using formdecode::field_store;

struct built {
  std::optional<ext_message> msg;
  std::string page;
  int status = -2;  // -2: a message was built
};

built build(std::initializer_list<std::pair<const char*, std::string>> form) {
  field_store f;
  for (const auto& [name, value] : form) f.set(std::string("WWW_") + name, value);
  std::ostringstream s;
  formdecode::page pg(s);
  built b;
  try {
    b.msg = site::build_ext_message(f, {"srv1", "north"}, 4242, pg);
  } catch (const formdecode::run_exit& e) {
    b.status = e.status;
  }
  b.page = s.str();
  return b;
}

// A refused form: status 0 and exactly `text` on the page.
void expect_refused(const built& b, const std::string& text) {
  EXPECT_FALSE(b.msg);
  EXPECT_EQ(0, b.status);
  EXPECT_EQ(text, b.page);
}

TEST(ExtMessage, NewFormFillsEveryField) {
  built b = build({{"message_type", "MSG_CREATE"}, {"flag", "new"}, {"ic_type", "VANTLE"},
                   {"ic_sym_name", "my doc"}, {"ic_id_list", "7"}});
  ASSERT_TRUE(b.msg);
  const ext_message& m = *b.msg;
  EXPECT_EQ(engine::KIND_TYPE_NAME, m.kind);
  EXPECT_EQ(4242, m.pid);
  EXPECT_EQ(engine::IC_TYPE, m.flag);
  EXPECT_EQ(-1, m.msg_type);
  EXPECT_EQ("MSG_CREATE", m.msg_type_name);
  EXPECT_EQ("VANTLE", m.ic_type);
  EXPECT_EQ("my doc", m.ic_sym_name);
  EXPECT_EQ("", m.sender.server_id);
  EXPECT_EQ(-1, m.sender.ic_id);
  EXPECT_EQ(0, m.sender.flag);
  EXPECT_EQ("srv1", m.receiver.server_id);
  EXPECT_EQ("north", m.receiver.orv_id);
  EXPECT_EQ("VANTLE", m.receiver.ic_type);
  EXPECT_EQ(0, m.receiver.ic_id) << "the id list is not read for a new cell";
  EXPECT_EQ('s', m.receiver.flag);
  EXPECT_EQ(engine::CONTENT_TEXT, m.content_flag);
  EXPECT_EQ("NULL", m.content);
  EXPECT_EQ("", b.page);
}

TEST(ExtMessage, FlagWords) {
  for (auto [word, flag] : std::initializer_list<std::pair<const char*, int>>{
           {"old", 1}, {"OLD", 1}, {"IC_ID", 1}, {"new", 2}, {"NEW", 2}, {"IC_TYPE", 2},
           {"oldnew", 3}, {"OLDNEW", 3}, {"IC_ID_TYPE", 3}, {"orv", 4}, {"ORV", 4},
           {"ORV_MSG", 4}, {"Old", 0}, {"orv ", 0}}) {
    EXPECT_EQ(flag, site::flag_of_word(word)) << word;
  }
  expect_refused(build({{"message_type", "M"}, {"flag", "Old"}}), "Unexpected flag value Old\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "<b>\"x\"&"}}),
                 "Unexpected flag value &lt;b&gt;&quot;x&quot;&amp;\n");
}

TEST(ExtMessage, LengthLimits) {
  std::string t49(49, 't'), t50(50, 't'), n50(50, 'n'), n51(51, 'n');
  EXPECT_TRUE(build({{"message_type", t49}, {"flag", "new"}, {"ic_type", t49}}).msg);
  expect_refused(build({{"message_type", t50}, {"flag", "new"}, {"ic_type", "V"}}),
                 "mesg_type is too long.\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", t50}}),
                 "ic_type is too long.\n");
  EXPECT_EQ(n50, build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"},
                        {"ic_sym_name", n50}}).msg->ic_sym_name);
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"},
                        {"ic_sym_name", n51}}),
                 "ic_sym_name is too long.\n");
}

TEST(ExtMessage, ChecksComeInOrder) {
  expect_refused(build({}), "Lack of Message Type.\n");
  expect_refused(build({{"flag", "bad"}}), "Lack of Message Type.\n");
  expect_refused(build({{"message_type", "M"}}), "Lack of flag\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}}), "Lack of ic type.\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "old"}, {"ic_type", "V"}}),
                 "Lack of ic_id_list.\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "oldnew"}, {"ic_type", "V"}}),
                 "Lack of ic_id_list.\n");
}

TEST(ExtMessage, IcTypeMayNotHoldAPath) {
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "../x"}}),
                 "Invalid ic type ../x.\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "a\\b"}}),
                 "Invalid ic type a\\b.\n");
}

TEST(ExtMessage, OrvMessageNeedsNoIcType) {
  built b = build({{"message_type", "SYS_SEND_MSG"}, {"flag", "orv"}, {"ic_type", "VANTLE"}});
  ASSERT_TRUE(b.msg);
  EXPECT_EQ(engine::ORV_MSG, b.msg->flag);
  EXPECT_EQ("", b.msg->ic_type);
  EXPECT_EQ("", b.msg->receiver.ic_type);
}

TEST(ExtMessage, ReceiverIdIsFirstNumberOfList) {
  auto id_of = [](const std::string& list) {
    return build({{"message_type", "M"}, {"flag", "old"}, {"ic_type", "V"}, {"ic_id_list", list}});
  };
  EXPECT_EQ(12, id_of("12 15 ").msg->receiver.ic_id);
  EXPECT_EQ(-1, id_of("-1").msg->receiver.ic_id);
  EXPECT_EQ(5, id_of("+5").msg->receiver.ic_id);
  const std::string why = ": the list must begin with a whole number, for example 12 or -1.\n";
  expect_refused(id_of(" 12"), "Unexpected ic_id_list value  12" + why);
  expect_refused(id_of("x12"), "Unexpected ic_id_list value x12" + why);
  expect_refused(id_of("99999999999"), "Unexpected ic_id_list value 99999999999" + why);
  // A number followed by other characters would name another cell.
  expect_refused(id_of("12abc"), "Unexpected ic_id_list value 12abc" + why);
  expect_refused(id_of("1.5"), "Unexpected ic_id_list value 1.5" + why);
  expect_refused(id_of("abc"), "Unexpected ic_id_list value abc" + why);
  expect_refused(id_of("<b>1"), "Unexpected ic_id_list value &lt;b&gt;1" + why);
}

TEST(ExtMessage, ContentFromParameters) {
  built b = build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"}, {"ic_par_num", "2"},
                   {"ic_par_1", "a"}, {"ic_par_2", "b"}, {"a", "1"}, {"b", "2"}});
  EXPECT_EQ("1|2|NULL", b.msg->content);

  built t = build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"}, {"ic_par_num", "2"},
                   {"ic_par_1", "t"}, {"ic_par_2", "s"}, {"t", "title"}, {"s", "x y"},
                   {"db_access", "db1"}});
  EXPECT_EQ("title|x y|db1", t.msg->content);

  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"},
                        {"ic_par_num", "2"}, {"ic_par_1", "a"}, {"a", "1"}}),
                 "Lack of ic_par_2.\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"},
                        {"ic_par_num", "1"}, {"ic_par_1", "zz"}}),
                 "Lack of zz.\n");
  expect_refused(build({{"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"},
                        {"ic_par_num", "101"}}),
                 "ic_par_num 101 is too large: at most 100 parameters.\n");
}

TEST(ExtMessage, ContentGivenDirectly) {
  auto content_of = [](std::initializer_list<std::pair<const char*, std::string>> extra) {
    std::initializer_list<std::pair<const char*, std::string>> base = {
        {"message_type", "M"}, {"flag", "new"}, {"ic_type", "V"}};
    field_store f;
    for (const auto& [n, v] : base) f.set(std::string("WWW_") + n, v);
    for (const auto& [n, v] : extra) f.set(std::string("WWW_") + n, v);
    std::ostringstream s;
    formdecode::page pg(s);
    try {
      return *site::build_ext_message(f, {"s", "o"}, 1, pg).content;
    } catch (const formdecode::run_exit&) {
      return "refused: " + s.str();
    }
  };
  EXPECT_EQ("hello|q", content_of({{"content", "hello"}, {"db_access", "q"}}));
  EXPECT_EQ("hello|NULL", content_of({{"content", "hello"}}));
  EXPECT_EQ("NULL", content_of({}));
  EXPECT_EQ("q", content_of({{"ic_par_num", "0"}, {"content", "hello"}, {"db_access", "q"}}));
  EXPECT_EQ("NULL", content_of({{"ic_par_num", "-3"}}));
  EXPECT_EQ(
      "refused: Conflict between old and new version.\n"
      "Either specify parameter values in content directly (old version)\n"
      " or in ic_para_# (new version).\n",
      content_of({{"ic_par_num", "1"}, {"ic_par_1", "a"}, {"a", "1"}, {"content", "hello"}}));
}

}  // namespace
