#include <gtest/gtest.h>

#include "tavsrv/Form.h"

using tavsrv::Form;

TEST(FormTest, DecodesPercentAndPlusAndKeepsFirstOfRepeatedNames) {
  std::string error;
  auto form = Form::parse("userName=%E8%80%81%E5%B8%88&pwd=a%2Bb+c%26d%3D&pwd=other", &error);
  ASSERT_TRUE(form) << error;
  EXPECT_EQ(*form->find("userName"), "老师");
  EXPECT_EQ(*form->find("pwd"), "a+b c&d=");
}

TEST(FormTest, RefusesMalformedBodies) {
  std::string error;
  for (const char* body : {"a=%", "a=%4", "a=%zz", "=x", "a=%C3%28", "a=%00", "a=%ED%A0%80"}) {
    EXPECT_FALSE(Form::parse(body, &error)) << body;
    EXPECT_FALSE(error.empty());
  }
  std::string many;
  for (int i = 0; i < 100; ++i)
    many += "k" + std::to_string(i) + "=1&";
  EXPECT_FALSE(Form::parse(many, &error));
}

TEST(FormTest, EmptyPiecesAndValuelessNamesAreTolerated) {
  std::string error;
  auto form = Form::parse("&&a=1&&flag&", &error);
  ASSERT_TRUE(form) << error;
  EXPECT_EQ(*form->find("a"), "1");
  EXPECT_EQ(*form->find("flag"), "");
  EXPECT_TRUE(Form::parse("", &error));
}

TEST(FormTest, TypedGettersRecordTheFirstProblem) {
  std::string error;
  auto form =
      Form::parse("roomId=12&globalId=0&big=4294967296&neg=-5&name=abcdef&price=1.5", &error);
  ASSERT_TRUE(form);
  EXPECT_EQ(form->id("roomId"), 12u);
  EXPECT_TRUE(form->ok());
  EXPECT_EQ(form->id("globalId"), 0u);
  EXPECT_FALSE(form->ok());
  EXPECT_EQ(form->error(), "参数格式错误：globalId");
  form->id("big");
  EXPECT_EQ(form->error(), "参数格式错误：globalId");  // the first problem stays

  auto other = Form::parse("neg=-5&name=abcdef&price=1.5&x=1e3", &error);
  EXPECT_EQ(other->integer("neg", -10, 10), -5);
  EXPECT_DOUBLE_EQ(other->number("price", 100), 1.5);
  EXPECT_TRUE(other->ok());
  other->text("name", 5);
  EXPECT_EQ(other->error(), "参数过长：name");

  auto missing = Form::parse("a=1", &error);
  missing->id("roomId");
  EXPECT_EQ(missing->error(), "缺少参数：roomId");
  auto sci = Form::parse("x=1e3", &error);
  sci->number("x", 1e9);
  EXPECT_FALSE(sci->ok());
}

TEST(FormTest, Utf8LengthCountsCharacters) {
  EXPECT_EQ(tavsrv::utf8Length("公告abc"), 5u);
  EXPECT_TRUE(tavsrv::isValidUtf8("公告"));
  EXPECT_FALSE(tavsrv::isValidUtf8("\xE5\x85"));
  EXPECT_EQ(tavsrv::percentEncode("a b/老"), "a%20b%2F%E8%80%81");
}
