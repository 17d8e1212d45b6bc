// quellmark-cli send: typed arguments to wire bytes, the command line, and the printed answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/protocol.h"
#include "quellmark-cli/named_commands.h"
#include "quellmark-cli/send_arguments.h"
#include "support/temp_dir.h"

namespace {

using namespace cli;
using Bytes = std::vector<uint8_t>;

TEST(SendArguments, NumbersAreDecimalOrHexUpToTheirBound) {
  EXPECT_EQ(ParseUnsigned("0XfF", 255), 255u);
  EXPECT_EQ(ParseUnsigned("18446744073709551615", UINT64_MAX), UINT64_MAX);
  for (const char* bad : {"", "0x", "-1", "+1", " 1", "1 ", "1a", "0x1g", "0b1", "x10", "0x-1",
                          "18446744073709551616", "0x10000000000000000"})
    EXPECT_EQ(ParseUnsigned(bad, UINT64_MAX), std::nullopt) << '"' << bad << '"';
}

TEST(SendArguments, TypedArgumentsBecomeTheirWireBytes) {
  testsupport::TempDir dir;
  const Bytes file_bytes = {0, 'a', '\n', ' ', 0x1A, 0xFF, '\r', 0};
  std::ofstream(dir.path() + "/arg.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(file_bytes.data()), file_bytes.size());
  std::ofstream(dir.path() + "/empty.bin").close();
  Bytes out;
  std::string error;
  for (const auto& [typed, expected] : std::vector<std::pair<std::string, Bytes>>{
           {"u32:0x050B", {0x0B, 0x05, 0, 0}},
           {"u32:4294967295", {0xFF, 0xFF, 0xFF, 0xFF}},
           {"u64:0x0102030405060708", {8, 7, 6, 5, 4, 3, 2, 1}},
           {"str:Ab", {'A', 0, 'b', 0, 0, 0}},
           {"str:", {0, 0}},
           {"str:C:\\", {'C', 0, ':', 0, '\\', 0, 0, 0}},  // only the first colon separates
           {"str:\xF0\x9F\x98\x80", {0x3D, 0xD8, 0x00, 0xDE, 0, 0}},  // a surrogate pair
           {"hex:01ab", {0x01, 0xAB}},
           {"hex:01-AB:ff.00", {0x01, 0xAB, 0xFF, 0x00}},
           {"hex:", {}},
           {"file:" + dir.path() + "/arg.bin", file_bytes},
           {"file:" + dir.path() + "/empty.bin", {}}}) {
    EXPECT_TRUE(ParseTypedArgument(typed, &out, &error)) << typed << ": " << error;
    EXPECT_EQ(out, expected) << typed;
  }
  // Errors name the argument and, where it helps, what is wrong with it.
  for (const auto& [typed, why] : std::vector<std::pair<std::string, std::string>>{
           {"u32:4294967296", "32-bit"}, {"u32:0x100000000", "'u32:0x100000000'"},
           {"u64:18446744073709551616", "64-bit"}, {"u32:", "32-bit"}, {"u32:-1", "32-bit"},
           {"hex:1ab", "odd number"}, {"hex:01-a", "odd number"}, {"hex:0-1", "odd number"},
           {"hex:0g", "'g'"}, {"hex:-01", "separator"}, {"hex:01-", "separator"},
           {"hex:01--ab", "separator"}, {"hex:01 ab", "' '"}, {"hex:0x01", "'x'"},
           {"file:" + dir.path() + "/missing", "cannot read"}, {"5", "no type"},
           {"u16:5", "unknown type 'u16'"}, {"U32:5", "unknown type"}, {":5", "unknown type"}}) {
    EXPECT_FALSE(ParseTypedArgument(typed, &out, &error)) << typed;
    EXPECT_NE(error.find(why), std::string::npos) << typed << ": " << error;
  }
}

TEST(SendArguments, CommandLine) {
  SendCommandLine line;
  std::string error;
  ASSERT_TRUE(ParseSendCommandLine({"21", "u32:5"}, &line, &error)) << error;
  EXPECT_TRUE(line.code == 21 && !line.raw && line.timeout_ms == kDefaultSendTimeoutMs && line.repeat == 1u);
  EXPECT_EQ(line.arguments, (std::vector<Bytes>{{5, 0, 0, 0}}));
  ASSERT_TRUE(ParseSendCommandLine(
      {"--raw", "--timeout", "250", "--repeat", "2", "--hold", "0x10", "0xFFFF", "hex:", "str:x"}, &line, &error));
  EXPECT_TRUE(line.raw && line.timeout_ms == 250u && line.repeat == 2u && line.hold_ms == 16u &&
              line.code == 0xFFFF);
  EXPECT_EQ(line.arguments, (std::vector<Bytes>{{}, {'x', 0, 0, 0}}));
  ASSERT_TRUE(ParseSendCommandLine({"--hold", "0", "--", "8"}, &line, &error)) << error;
  EXPECT_TRUE(line.code == 8 && line.hold_ms == 0u && line.arguments.empty());

  std::vector<std::string> many = {"0"};  // the count is one byte on the wire
  many.insert(many.end(), 255, "hex:");
  EXPECT_TRUE(ParseSendCommandLine(many, &line, &error)) << error;
  many.push_back("hex:");
  for (const auto& [args, why] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "command code"}, {{"65536"}, "65535"}, {{"-1"}, "65535"},
           {{"--timeout"}, "needs a value"}, {{"--timeout", "0", "0"}, "from 1"},
           {{"--timeout", "4294967296", "0"}, "4294967295"}, {{"--repeat", "0", "0"}, "from 1"},
           {{"--hold", "x", "0"}, "from 0"}, {{"--verbose", "0"}, "--verbose"},
           {{"0", "u32:1", "bogus"}, "bogus"},
           {{"0", "--raw"}, "--raw"},  // after the code every word is an argument
           {many, "255"}}) {
    EXPECT_FALSE(ParseSendCommandLine(args, &line, &error)) << why;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
}

TEST(SendFormat, ItemTextIsOnlyWholeNulTerminatedPrintableText) {
  EXPECT_EQ(ItemText(text::ToWireText("a\tb\r\nc\n")), "a\tb\r\nc\n");
  EXPECT_EQ(ItemText(Bytes{0, 0}), "");
  EXPECT_EQ(ItemText(Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}), "\xF0\x9F\x98\x80");
  // Empty, odd length, no NUL, NUL inside, a small number, a control character, lone
  // surrogates, a surrogate cut by the NUL.
  for (const Bytes& item : std::vector<Bytes>{
           {}, {'A', 0, 0}, {'A', 0}, {'A', 0, 0, 0, 'B', 0, 0, 0}, {5, 0, 0, 0},
           {1, 0, 'A', 0, 0, 0}, {0x3D, 0xD8, 'A', 0, 0, 0}, {0x00, 0xDE, 0, 0}, {0x3D, 0xD8, 0, 0}}) {
    EXPECT_EQ(ItemText(item), std::nullopt) << testing::PrintToString(item);
  }
}

TEST(SendFormat, ItemsAndResponsesShowTheirBytesAndWhatTheyFit) {
  Bytes seventeen(17);
  for (size_t i = 0; i < seventeen.size(); ++i) seventeen[i] = static_cast<uint8_t>(0xF0 + i);
  for (const auto& [item, printed] : std::vector<std::pair<Bytes, std::string>>{
           {{0x0B, 0x05, 0, 0}, "item 0: 4 bytes\n  0b 05 00 00\n  u32: 1291 (0x0000050B)\n"},
           {{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
            "item 0: 8 bytes\n  ff ff ff ff 00 00 00 00\n  u64: 4294967295 (0x00000000FFFFFFFF)\n"},
           {{}, "item 0: 0 bytes\n"},
           {{7}, "item 0: 1 byte\n  07\n"},
           {seventeen,  // 16 bytes to a line
            "item 0: 17 bytes\n  f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff\n  00\n"},
           // 4- and 8-byte items are text only in plain ASCII ("é" is a number here) ...
           {{0xE9, 0, 0, 0}, "item 0: 4 bytes\n  e9 00 00 00\n  u32: 233 (0x000000E9)\n"},
           {{'A', 0, 0, 0}, "item 0: 4 bytes\n  41 00 00 00\n  u32: 65 (0x00000041)\n  text: A\n"},
           // ... while texts of other lengths may be any script.
           {text::ToWireText("\xC3\xA9t\xC3\xA9s"),
            "item 0: 10 bytes\n  e9 00 74 00 e9 00 73 00 00 00\n  text: \xC3\xA9t\xC3\xA9s\n"}}) {
    EXPECT_EQ(FormatItem(0, item), printed);
  }
  // Further lines of a text stay under the first; a final line feed adds no empty line.
  const std::string multi = FormatItem(3, text::ToWireText("one: 1\ntwo: 2 \n"));
  EXPECT_TRUE(multi.starts_with("item 3: 32 bytes\n")) << multi;
  EXPECT_TRUE(multi.ends_with("\n  text: one: 1\n        two: 2 \n")) << multi;

  const Bytes response = {2, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(FormatResponse(response, false),
            "items: 2\nitem 0: 4 bytes\n  05 00 00 00\n  u32: 5 (0x00000005)\nitem 1: 0 bytes\n");
  EXPECT_EQ(FormatResponse(response, true), "02 04 00 00 00 05 00 00 00 00 00 00 00\n");
  EXPECT_EQ(FormatResponse(Bytes{0}, false), "items: 0\n");
  // An item running past the end is not a response; --raw still shows the bytes.
  EXPECT_EQ(FormatResponse(Bytes{1, 4, 0, 0, 0, 5}, false), std::nullopt);
  EXPECT_EQ(FormatResponse(Bytes{}, false), std::nullopt);
  EXPECT_EQ(FormatResponse(Bytes{1, 4, 0, 0, 0, 5}, true), "01 04 00 00 00 05\n");
}

TEST(SendFormat, FailureMessagesNameThePipeAndTheError) {
  using enum ExchangeStage;
  const struct { ExchangeStage stage; uint32_t error; const char* message; } rows[] = {
      {kConnect, win::kErrorFileNotFound, "no broker is serving P (error 2)"},
      {kConnect, win::kErrorAccessDenied, "cannot connect to P (error 5)"},
      {kWrite, win::kErrorNoData, "writing the request to P failed (error 232)"},
      {kRead, win::kErrorBrokenPipe,
       "the broker closed the connection without an answer (unknown command or malformed request?)"},
      {kRead, win::kErrorFileNotFound, "reading the answer from P failed (error 2)"}};
  for (const auto& row : rows) EXPECT_EQ(ExchangeFailureMessage(row.stage, row.error, "P"), row.message);
}

TEST(NamedCommands, BecomeTheirCodeAndArgumentWidth) {
  struct Case { std::vector<std::string> words; uint16_t code; std::vector<Bytes> arguments; };
  const Case cases[] = {
      {{"op-mode", "set", "5"}, 21, {{5, 0, 0, 0}}},
      {{"fan-table", "get"}, 18, {{0, 0, 0, 0}}},
      {{"fan-table", "set", "0x0102030405060708"}, 17, {{8, 7, 6, 5, 4, 3, 2, 1}}},
      {{"function", "set", "1"}, 31, {{1, 0, 0, 0, 0, 0, 0, 0}}},
      {{"sticky-keys", "set", "on"}, 28, {{1, 0, 0, 0}}},
      {{"value", "create", "K", "v", "reg_dword", "u32:7"}, 3,
       {text::ToWireText("K"), text::ToWireText("v"), {4, 0, 0, 0}, {7, 0, 0, 0}}},
      {{"value", "get", "K", "v", "RRF_RT_REG_DWORD", "0x10"}, 6,
       {text::ToWireText("K"), text::ToWireText("v"), {0x10, 0, 0, 0}, {0x10, 0, 0, 0}, {}}},
      {{"logo", "apply", "C:\\a.jpg", "jpg"}, 36, {text::ToWireText("C:\\a.jpg"), {1, 0, 0, 0}}},
      {{"logo", "restore"}, 37, {}},
  };
  SendCommandLine command;
  std::string error;
  for (const Case& c : cases) {
    ASSERT_TRUE(ParseNamedCommand(c.words, &command, &error)) << c.words[0] << ": " << error;
    EXPECT_TRUE(command.code == c.code && command.arguments == c.arguments) << c.words[0];
  }
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
           {"op-mode"}, {"op-mode", "toggle"}, {"op-mode", "get", "1"}, {"op-mode", "set"},
           {"op-mode", "set", "4294967296"}, {"fan-speed", "set", "-1"}, {"sticky-keys", "set", "yes"},
           {"value", "create", "K", "v", "REG_WORD", "u32:1"}, {"value", "get", "K", "v", "RRF_RT_ANY"},
           {"logo", "apply", "a.png", "png"}}) {
    error.clear();
    EXPECT_FALSE(ParseNamedCommand(words, &command, &error) || error.empty()) << words.size();
  }
  EXPECT_TRUE(IsNamedCommand("fan-table") && !IsNamedCommand("send"));
}

TEST(NamedCommands, AnswerPrintsEachItemAtItsWidth) {
  const uint8_t u64[8] = {0x00, 0x05}, u32[4] = {0xFF, 0xFF, 0xFF, 0xFF}, odd[2] = {0xAB, 0x01};
  ironbark::CommandResponse response;
  ironbark::BuildResponse(response, {{u64, 8}, {u32, 4}, {odd, 2}});
  EXPECT_EQ(FormatNamedAnswer(response.bytes),
            "1280 (0x0000000000000500)\n4294967295 (0xFFFFFFFF)\nab 01\n");
  EXPECT_EQ(FormatNamedAnswer(Bytes{1, 2}), std::nullopt);
}

}  // namespace
