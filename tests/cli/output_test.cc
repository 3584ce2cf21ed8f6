#include "cli/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace lumvet {
namespace {

TEST(TsvRecord, EscapesTabNewlineBackslash) {
  EXPECT_EQ(tsv_record("a\tb\nc\\d e\r\xff.jpg", {-5, true}),
            "-5\tok\ta\\tb\\nc\\\\d e\r\xff.jpg\n");
}

TEST(JsonRecord, Utf8PathsAreWrittenAsTheyAre) {
  const std::string line = json_record("d/\xc3\xa9t\xc3\xa9\n\"x\".jpg", {42, true});
  EXPECT_EQ(line,
            "{\"path\":\"d/\xc3\xa9t\xc3\xa9\\n\\\"x\\\".jpg\",\"score\":42,\"decoded\":true}\n");
}

TEST(JsonRecord, InvalidUtf8GetsReplacementAndRawBytes) {
  const std::string path = "d/bad\xff\xfe.jpg";
  const std::string line = json_record(path, {-3, true});
  ASSERT_EQ(line.back(), '\n');
  const auto j = nlohmann::json::parse(line);  // the line itself is valid UTF-8 JSON
  EXPECT_EQ(j["score"], -3);
  const std::string shown = j["path"];
  EXPECT_EQ(shown.substr(0, 5), "d/bad");
  EXPECT_NE(shown.find("\xef\xbf\xbd"), std::string::npos);  // U+FFFD
  EXPECT_EQ(j["path_bytes"], base64_encode(path));
  EXPECT_EQ(j["path_bytes"], "ZC9iYWT//i5qcGc=");
}

TEST(Utf8, StrictValidation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain \xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"));
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong '/'
  EXPECT_FALSE(is_valid_utf8("\xe0\x80\xaf"));      // overlong
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xe2\x82"));          // cut short
  EXPECT_FALSE(is_valid_utf8("\x80"));
}

TEST(Base64, Rfc4648Vectors) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
}

}  // namespace
}  // namespace lumvet
