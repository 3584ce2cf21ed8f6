#include "cli/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

namespace lumvet {
namespace {

TEST(Records, TsvEscapesAndJsonKeepsTheExactBytes) {
  EXPECT_EQ(tsv_record("a\tb\nc\\d e\r\xff.jpg", {-5, true}),
            "-5\tok\ta\\tb\\nc\\\\d e\\r\xff.jpg\n");
  EXPECT_EQ(json_record("d/\xc3\xa9t\xc3\xa9\n\"x\".jpg", {42, true}),
            "{\"path\":\"d/\xc3\xa9t\xc3\xa9\\n\\\"x\\\".jpg\",\"score\":42,\"decoded\":true}\n");
  // Invalid UTF-8: U+FFFD in "path" (the line stays valid JSON), the bytes in base64.
  const auto j = nlohmann::json::parse(json_record("d/bad\xff\xfe.jpg", {-3, false}));
  EXPECT_EQ(j["path"], "d/bad\xef\xbf\xbd\xef\xbf\xbd.jpg");
  EXPECT_EQ(j["path_bytes"], "ZC9iYWT//i5qcGc=");
  EXPECT_EQ(j["decoded"], false);
}

TEST(Utf8, StrictValidation) {
  EXPECT_TRUE(is_valid_utf8("plain \xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"));
  for (const char* bad : {"\xc0\xaf", "\xe0\x80\xaf",  // overlong
                          "\xed\xa0\x80",              // surrogate
                          "\xf4\x90\x80\x80",          // above U+10FFFF
                          "\xe2\x82", "\x80"}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << bad;
  }
}

TEST(Base64, Rfc4648Vectors) {
  const char* want[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (std::size_t n = 0; n <= 6; ++n) EXPECT_EQ(base64_encode(std::string("foobar", n)), want[n]);
}

}  // namespace
}  // namespace lumvet
