#include "tavsrv/JsonText.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tavsrv/Answer.h"

namespace {

// Whatever the text, it reads back as itself and is written as the tree dump writes it.
TEST(JsonText, StringsAreWrittenAsTheTreeDumpWritesThem) {
  std::string every;
  for (int c = 1; c < 0x80; ++c)
    every += static_cast<char>(c);
  for (const std::string& text :
       {std::string(), std::string("plain"), std::string("引号\"与反斜杠\\"), every,
        std::string("表情 \xF0\x9F\x98\x80 and \xE2\x80\xA8 line separator"),
        std::string("nul\0inside", 10)}) {
    std::string out;
    tavsrv::appendJsonString(out, text);
    EXPECT_EQ(out, tavsrv::dumpJson(nlohmann::json(text)));
    EXPECT_EQ(nlohmann::json::parse(out).get<std::string>(), text);
  }
}

}  // namespace
