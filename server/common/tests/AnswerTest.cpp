#include <gtest/gtest.h>

#include "tavsrv/Answer.h"

#include <nlohmann/json.hpp>

using namespace tavsrv;

// The client un-nests an embedded object with three textual replacements; the
// answer must turn into valid JSON with the right structure whatever the texts hold.
TEST(AnswerTest, EmbeddedObjectsSurviveTheClientsUnnesting) {
  const std::vector<std::string> hostile = {
      "plain",       "",      "quote\"inside", "back\\slash", "{brace",   "brace}", "}\"", "\"{",
      "line\nbreak", "tab\t", "老师",          "\\\"",        "a\"}\"{b", "{}"};
  for (const auto& name : hostile) {
    json inner{{"globalId", 7}, {"nickName", name}, {"empty", ""}, {"nested", {{"k", name}}}};
    json answer{{"code", 0},
                {"msg", embedSafeText(name)},
                {"body", embedObject(inner)},
                {"list", json::array({embedObject(inner), embedObject(inner)})}};
    const std::string wire = dumpJson(answer);
    const json parsed = json::parse(unnest(wire), nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << wire;
    ASSERT_TRUE(parsed["body"].is_object()) << wire;
    EXPECT_EQ(parsed["body"]["globalId"], 7);
    EXPECT_EQ(parsed["body"]["nickName"], embedSafeText(name));
    EXPECT_EQ(parsed["body"]["nested"]["k"], embedSafeText(name));
    ASSERT_TRUE(parsed["list"].is_array());
    EXPECT_TRUE(parsed["list"][1].is_object());
  }
}

TEST(AnswerTest, SafeTextKeepsOrdinaryTextAndReplacesOnlyTheDangerousCharacters) {
  EXPECT_EQ(embedSafeText("张三 abc-1"), "张三 abc-1");
  EXPECT_EQ(embedSafeText("a\"b"), "a＂b");
  EXPECT_EQ(embedSafeText("{x}"), "｛x｝");
  EXPECT_EQ(embedSafeText("a\\b\n"), "a＼b ");
}

TEST(AnswerTest, ShapesAndInvalidUtf8) {
  EXPECT_EQ(ok()["code"], 0);
  EXPECT_EQ(refusal(403, "没有权限！")["msg"], "没有权限！");
  const std::string dumped = dumpJson(json{{"x", std::string("\xff\xfe")}});
  EXPECT_FALSE(json::parse(dumped, nullptr, false).is_discarded());
}
