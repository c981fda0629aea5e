#include <gtest/gtest.h>

#include <cstdio>

#include "platform/FileSystem.h"
#include "tests/platform/FakeFileSystem.h"
#include "viewer/ListCommand.h"

namespace {

struct Captured {
  int status = -1;
  std::string out, err;
};

Captured List(const std::vector<std::string>& args) {
  Captured c;
  char* out_data = nullptr;
  char* err_data = nullptr;
  std::size_t out_size = 0, err_size = 0;
  std::FILE* out = open_memstream(&out_data, &out_size);
  std::FILE* err = open_memstream(&err_data, &err_size);
  c.status = RunListCommand(args, out, err);
  std::fclose(out);
  std::fclose(err);
  c.out.assign(out_data, out_size);
  c.err.assign(err_data, err_size);
  std::free(out_data);
  std::free(err_data);
  return c;
}

const std::string kHeader = "N° \tFile Name \tSize: \tFA \tSubject: \tFrom: \tTo: \tReturnPath: \tDate: \n";

class ListCommandTest : public ::testing::Test {
 protected:
  testing_host::FakeFileSystem fs;
  platform::ScopedHost host{fs};
  void SetUp() override { fs.AddFile("/prog/Filter.ini", "\"-\",\"From: \",\"spam\"\r\n"); }
};

TEST_F(ListCommandTest, PrintsEscapedCellsAndTheCountersLast) {
  fs.AddFile("/q q/my msg.q0", "Q\r\n\r\nSubject: tab\there \\ back\nlf\r\nFrom: spam@x\r\n");
  fs.AddFile("/q q/my msg.q1", "xyz");
  fs.AddFile("/q q/zero.q0", "");
  Captured c = List({"/q q"});
  EXPECT_EQ(c.status, 0);
  std::string size = std::to_string(fs.Contents("/q q/my msg.q0").size() + 3);
  EXPECT_EQ(c.out, kHeader + "1\tmy msg.q0\t" + size + "\tFr-\ttab\\there \\\\ back\\nlf\tspam@x\t\t\t~1899/12/30 00:00:00\n");
  // The boxes' texts as they stand: one leading blank below 1 000, two below 1 000 bytes.
  EXPECT_EQ(c.err, "Files Processed (Number/Size):  1 /   " + size + ", empty:  1\n");
}

TEST_F(ListCommandTest, SingleFileModeMissingFoldersAndBadInput) {
  fs.AddFile("/in/a", "Subject: s\r\n\r\n");
  Captured single = List({"--single", "/in"});
  EXPECT_EQ(single.out, kHeader + "1\ta\t14\t\ts\t\t\t\t~1899/12/30 00:00:00\n");
  EXPECT_EQ(List({"/in"}).out, kHeader);  // no pairs there

  Captured missing = List({"/nowhere"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.out, kHeader);
  EXPECT_EQ(missing.err, "Files Processed (Number/Size): 0 / 0, empty: 0\n");

  EXPECT_EQ(List({}).status, 2);
  EXPECT_EQ(List({"/a", "/b"}).status, 2);

  fs.RemoveTree("/prog/Filter.ini");
  Captured no_rules = List({"/in"});
  EXPECT_EQ(no_rules.status, 1);
  EXPECT_EQ(no_rules.out, "");
  EXPECT_EQ(no_rules.err, "qvue: /prog/Filter.ini: not found\n");
}

TEST_F(ListCommandTest, DecodeShowsTheHeaderTextsDecodedAndClassifiesTheRawRecord) {
  // The rule looks for "spam" in From: the raw text does not hold it, the
  // decoded one does; the file name is never decoded.
  fs.AddFile("/q/=?UTF-8?Q?x?=.q0",
             "Q\r\n\r\nSubject: =?ISO-8859-1?Q?f=FCr?= dich\r\nFrom: =?UTF-8?B?c3BhbQ==?= <a@x>\r\n");
  fs.AddFile("/q/=?UTF-8?Q?x?=.q1", "");
  std::string size = std::to_string(fs.Contents("/q/=?UTF-8?Q?x?=.q0").size());
  std::string rest = "\t\t\t~1899/12/30 00:00:00\n";
  EXPECT_EQ(List({"/q"}).out, kHeader + "1\t=?UTF-8?Q?x?=.q0\t" + size + "\t\t=?ISO-8859-1?Q?f=FCr?= dich\t" +
                                   "=?UTF-8?B?c3BhbQ==?= <a@x>" + rest);
  EXPECT_EQ(List({"--decode", "/q"}).out,
            kHeader + "1\t=?UTF-8?Q?x?=.q0\t" + size + "\t\tf\u00fcr dich\tspam <a@x>" + rest);
}

}  // namespace
