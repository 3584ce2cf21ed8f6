#include "cli/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;

std::string write_single(OutputFormat format, const std::string& path, FileScore score) {
  return capture_output([&](std::FILE* out) {
    ScoreSink sink;
    sink.out = out;
    sink.format = format;
    write_single_result(sink, path, score);
    EXPECT_EQ(sink.write_errno, 0);
  });
}

TEST(SingleResult, EveryFormat) {
  EXPECT_EQ(write_single(OutputFormat::text, "a.jpg", {150, true}), "150\n");
  EXPECT_EQ(write_single(OutputFormat::text, "a.jpg", {1, true}), "1\n");
  // Scores below 1 print as 0 in the text mode only.
  EXPECT_EQ(write_single(OutputFormat::text, "a.jpg", {-37, true}), "0\n");
  EXPECT_EQ(write_single(OutputFormat::tsv, "a.jpg", {-37, true}),
            "score\tstatus\tpath\n-37\tok\ta.jpg\n");
  EXPECT_EQ(write_single(OutputFormat::jsonl, "a.jpg", {0, false}),
            "{\"path\":\"a.jpg\",\"score\":0,\"decoded\":false}\n");
}

TEST(FolderOutput, TextListsAboveTheThresholdOnly) {
  const std::string text = capture_output([](std::FILE* out) {
    ScoreSink sink;
    sink.out = out;
    write_folder_header(sink);
    write_folder_photo(sink, "d/a.jpg", {11, true});
    write_folder_photo(sink, "d/b.jpg", {10, true});
    write_folder_photo(sink, "d/c.jpg", {0, false});
    sink.threshold = 9;
    write_folder_photo(sink, "d/e.jpg", {10, true});
    write_folder_summary(sink, 2, 4);
  });
  EXPECT_EQ(text, "BLUR\tPATH\n11\td/a.jpg\n10\td/e.jpg\n2/4 are somewhat blurred\n");
}

TEST(FolderOutput, TsvHasHeaderAndEveryRecordButNoSummary) {
  const std::string text = capture_output([](std::FILE* out) {
    ScoreSink sink;
    sink.out = out;
    sink.format = OutputFormat::tsv;
    write_folder_header(sink);
    write_folder_photo(sink, "d/b.jpg", {10, true});
    write_folder_photo(sink, "d/c.jpg", {0, false});
    write_folder_summary(sink, 0, 2);
  });
  EXPECT_EQ(text, "score\tstatus\tpath\n10\tok\td/b.jpg\n0\tundecodable\td/c.jpg\n");
}

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
