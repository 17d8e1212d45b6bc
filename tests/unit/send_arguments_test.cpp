// quellmark-cli send: typed arguments to wire bytes, the command line, and the printed answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "quellmark-cli/send_arguments.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/protocol.h"

namespace {

using cli::ExchangeFailureMessage;
using cli::ExchangeStage;
using cli::FormatItem;
using cli::FormatResponse;
using cli::ItemText;
using cli::ParseSendCommandLine;
using cli::ParseTypedArgument;
using cli::ParseUnsigned;
using cli::SendCommandLine;

using Bytes = std::vector<uint8_t>;

Bytes Arg(const std::string& typed) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(ParseTypedArgument(typed, &out, &error)) << typed << ": " << error;
  return out;
}

std::string ArgError(const std::string& typed) {
  Bytes out;
  std::string error;
  EXPECT_FALSE(ParseTypedArgument(typed, &out, &error)) << typed;
  return error;
}

// UTF-16LE code units, nothing appended.
Bytes Wide(std::u16string_view s) {
  Bytes out;
  for (char16_t u : s) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  return out;
}

Bytes Response(std::initializer_list<Bytes> items) {
  Bytes out = {static_cast<uint8_t>(items.size())};
  for (const Bytes& item : items) {
    pipeproto::AppendU32(out, static_cast<uint32_t>(item.size()));
    out.insert(out.end(), item.begin(), item.end());
  }
  return out;
}

TEST(SendNumbers, DecimalAndHexUpToTheirBound) {
  EXPECT_EQ(ParseUnsigned("0", 10), 0u);
  EXPECT_EQ(ParseUnsigned("0x0A", 10), 10u);
  EXPECT_EQ(ParseUnsigned("0XfF", 255), 255u);
  EXPECT_EQ(ParseUnsigned("65535", 0xFFFF), 65535u);
  EXPECT_EQ(ParseUnsigned("65536", 0xFFFF), std::nullopt);
  EXPECT_EQ(ParseUnsigned("18446744073709551615", UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(ParseUnsigned("18446744073709551616", UINT64_MAX), std::nullopt);
  EXPECT_EQ(ParseUnsigned("0x10000000000000000", UINT64_MAX), std::nullopt);
  for (const char* bad : {"", "0x", "-1", "+1", " 1", "1 ", "1a", "0x1g", "0b1", "x10", "0x-1"}) {
    EXPECT_EQ(ParseUnsigned(bad, UINT64_MAX), std::nullopt) << '"' << bad << '"';
  }
}

TEST(SendArguments, IntegersAreLittleEndianOfTheirWidth) {
  EXPECT_EQ(Arg("u32:5"), (Bytes{5, 0, 0, 0}));
  EXPECT_EQ(Arg("u32:0x050B"), (Bytes{0x0B, 0x05, 0, 0}));
  EXPECT_EQ(Arg("u32:4294967295"), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Arg("u64:0x0102030405060708"), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Arg("u64:0"), Bytes(8, 0));
  EXPECT_EQ(Arg("u64:4294967296"), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_NE(ArgError("u32:4294967296").find("32-bit"), std::string::npos);
  EXPECT_NE(ArgError("u32:0x100000000").find("'u32:0x100000000'"), std::string::npos);
  EXPECT_NE(ArgError("u64:18446744073709551616").find("64-bit"), std::string::npos);
  ArgError("u32:");
  ArgError("u32:-1");
}

TEST(SendArguments, TextIsUtf16LeWithItsNul) {
  EXPECT_EQ(Arg("str:Ab"), (Bytes{'A', 0, 'b', 0, 0, 0}));
  EXPECT_EQ(Arg("str:"), (Bytes{0, 0}));
  // Only the first colon separates the type; the rest, colons included, is the text.
  EXPECT_EQ(Arg("str:C:\\x"), Wide(std::u16string(u"C:\\x") + u'\0'));
  // Outside the basic plane: a surrogate pair, then the NUL.
  EXPECT_EQ(Arg("str:\xF0\x9F\x98\x80"), (Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
}

TEST(SendArguments, HexBytesWithOptionalSeparatorsBetweenBytes) {
  EXPECT_EQ(Arg("hex:01ab"), (Bytes{0x01, 0xAB}));
  EXPECT_EQ(Arg("hex:01-AB:ff.00"), (Bytes{0x01, 0xAB, 0xFF, 0x00}));
  EXPECT_EQ(Arg("hex:"), Bytes{});
  EXPECT_NE(ArgError("hex:1ab").find("odd number"), std::string::npos);
  EXPECT_NE(ArgError("hex:01-a").find("odd number"), std::string::npos);
  EXPECT_NE(ArgError("hex:0-1").find("odd number"), std::string::npos);
  EXPECT_NE(ArgError("hex:0g").find("'g'"), std::string::npos);
  for (const char* bad : {"hex:-01", "hex:01-", "hex:01--ab", "hex:01 ab", "hex:0x01"}) {
    ArgError(bad);
  }
}

TEST(SendArguments, UntypedAndUnknownTypesAreRefused) {
  EXPECT_NE(ArgError("5").find("no type"), std::string::npos);
  EXPECT_NE(ArgError("u16:5").find("unknown type 'u16'"), std::string::npos);
  ArgError("U32:5");
  ArgError(":5");
}

TEST(SendCommandLineTest, CodeArgumentsAndOptions) {
  SendCommandLine line;
  std::string error;
  ASSERT_TRUE(ParseSendCommandLine({"21", "u32:5"}, &line, &error)) << error;
  EXPECT_EQ(line.code, 21);
  EXPECT_FALSE(line.raw);
  EXPECT_EQ(line.timeout_ms, cli::kDefaultSendTimeoutMs);
  ASSERT_EQ(line.arguments.size(), 1u);
  // The request the client writes is the documented 11 bytes.
  EXPECT_EQ(pipeproto::EncodeRequest(line.code, line.arguments),
            (Bytes{0x15, 0, 1, 4, 0, 0, 0, 5, 0, 0, 0}));

  ASSERT_TRUE(ParseSendCommandLine({"--raw", "--timeout", "250", "0xFFFF", "hex:", "str:x"},
                                   &line, &error))
      << error;
  EXPECT_TRUE(line.raw);
  EXPECT_EQ(line.timeout_ms, 250u);
  EXPECT_EQ(line.code, 0xFFFF);
  EXPECT_EQ(line.arguments, (std::vector<Bytes>{{}, {'x', 0, 0, 0}}));

  // A zero-length argument still occupies its length field on the wire.
  EXPECT_EQ(pipeproto::EncodeRequest(0, std::vector<Bytes>{{}}), (Bytes{0, 0, 1, 0, 0, 0, 0}));

  // After the code every word is an argument; "--" ends the options early.
  EXPECT_FALSE(ParseSendCommandLine({"0", "--raw"}, &line, &error));
  ASSERT_TRUE(ParseSendCommandLine({"--", "8"}, &line, &error)) << error;
  EXPECT_EQ(line.code, 8);
  EXPECT_TRUE(line.arguments.empty());
}

TEST(SendCommandLineTest, RepeatAndHoldShapeTheConversation) {
  SendCommandLine line;
  std::string error;
  ASSERT_TRUE(ParseSendCommandLine({"--repeat", "2", "--hold", "0", "0"}, &line, &error)) << error;
  EXPECT_EQ(line.repeat, 2u);
  EXPECT_EQ(line.hold_ms, 0u);
  ASSERT_TRUE(ParseSendCommandLine({"--hold", "0x10", "7"}, &line, &error)) << error;
  EXPECT_EQ(line.hold_ms, 16u);
  EXPECT_EQ(line.repeat, 1u);
}

TEST(SendCommandLineTest, UsageErrors) {
  SendCommandLine line;
  std::string error;
  EXPECT_FALSE(ParseSendCommandLine({}, &line, &error));
  EXPECT_NE(error.find("command code"), std::string::npos);
  EXPECT_FALSE(ParseSendCommandLine({"65536"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"-1"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"--timeout"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"--timeout", "0", "0"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"--timeout", "4294967296", "0"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"--repeat", "0", "0"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"--hold", "x", "0"}, &line, &error));
  EXPECT_FALSE(ParseSendCommandLine({"0", "file:/nonexistent/quellmark-arg"}, &line, &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
  EXPECT_FALSE(ParseSendCommandLine({"--verbose", "0"}, &line, &error));
  EXPECT_NE(error.find("--verbose"), std::string::npos);
  EXPECT_FALSE(ParseSendCommandLine({"0", "u32:1", "bogus"}, &line, &error));
  EXPECT_NE(error.find("bogus"), std::string::npos);

  // The argument count is one byte on the wire: 255 fit, 256 do not.
  std::vector<std::string> args = {"0"};
  args.insert(args.end(), 255, "hex:");
  EXPECT_TRUE(ParseSendCommandLine(args, &line, &error)) << error;
  EXPECT_EQ(line.arguments.size(), 255u);
  args.push_back("hex:");
  EXPECT_FALSE(ParseSendCommandLine(args, &line, &error));
}

TEST(SendItemText, OnlyWholeNulTerminatedPrintableText) {
  EXPECT_EQ(ItemText(text::ToWireText("Turbo")), "Turbo");
  EXPECT_EQ(ItemText(text::ToWireText("a\tb\r\nc\n")), "a\tb\r\nc\n");
  EXPECT_EQ(ItemText(Bytes{0, 0}), "");
  EXPECT_EQ(ItemText(Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(ItemText(Bytes{}), std::nullopt);
  EXPECT_EQ(ItemText(Bytes{'A', 0, 0}), std::nullopt) << "odd length";
  EXPECT_EQ(ItemText(Bytes{'A', 0}), std::nullopt) << "no NUL";
  EXPECT_EQ(ItemText(Bytes{'A', 0, 0, 0, 'B', 0, 0, 0}), std::nullopt) << "NUL inside";
  EXPECT_EQ(ItemText(Bytes{5, 0, 0, 0}), std::nullopt) << "a small number, not text";
  EXPECT_EQ(ItemText(Bytes{0x3D, 0xD8, 'A', 0, 0, 0}), std::nullopt) << "lone high surrogate";
  EXPECT_EQ(ItemText(Bytes{0x00, 0xDE, 0, 0}), std::nullopt) << "lone low surrogate";
  EXPECT_EQ(ItemText(Bytes{0x3D, 0xD8, 0, 0}), std::nullopt) << "surrogate cut by the NUL";
}

TEST(SendFormat, ItemsShowTheirBytesAndWhatTheyFit) {
  EXPECT_EQ(FormatItem(0, Bytes{0x0B, 0x05, 0, 0}),
            "item 0: 4 bytes\n"
            "  0b 05 00 00\n"
            "  u32: 1291 (0x0000050B)\n");
  EXPECT_EQ(FormatItem(2, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}),
            "item 2: 8 bytes\n"
            "  ff ff ff ff 00 00 00 00\n"
            "  u64: 4294967295 (0x00000000FFFFFFFF)\n");
  EXPECT_EQ(FormatItem(1, Bytes{}), "item 1: 0 bytes\n");
  EXPECT_EQ(FormatItem(0, Bytes{7}), "item 0: 1 byte\n  07\n");
  // A number whose bytes spell a non-ASCII character is not shown as text ...
  EXPECT_EQ(FormatItem(0, Wide(std::u16string(u"\u00e9") + u'\0')),
            "item 0: 4 bytes\n"
            "  e9 00 00 00\n"
            "  u32: 233 (0x000000E9)\n");
  EXPECT_EQ(FormatItem(0, Wide(std::u16string(u"\u00e9t\u00e9") + u'\0')),
            "item 0: 8 bytes\n"
            "  e9 00 74 00 e9 00 00 00\n"
            "  u64: 1000734982377 (0x000000E9007400E9)\n");
  // ... while texts of other lengths may be any script.
  EXPECT_EQ(FormatItem(0, text::ToWireText("\xC3\xA9t\xC3\xA9s")),
            "item 0: 10 bytes\n"
            "  e9 00 74 00 e9 00 73 00 00 00\n"
            "  text: \xC3\xA9t\xC3\xA9s\n");
  // A 4-byte item that is also a one-character ASCII text shows both readings.
  EXPECT_EQ(FormatItem(0, Bytes{'A', 0, 0, 0}),
            "item 0: 4 bytes\n"
            "  41 00 00 00\n"
            "  u32: 65 (0x00000041)\n"
            "  text: A\n");
  // 16 bytes per hex line.
  Bytes seventeen(17);
  for (size_t i = 0; i < seventeen.size(); ++i) seventeen[i] = static_cast<uint8_t>(0xF0 + i);
  EXPECT_EQ(FormatItem(0, seventeen),
            "item 0: 17 bytes\n"
            "  f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff\n"
            "  00\n");
}

TEST(SendFormat, MultiLineTextStaysUnderItsItem) {
  const Bytes item = text::ToWireText("Number of arguments: 1\narg0 size: 2, content: 01 ab \n");
  const std::string printed = FormatItem(0, item);
  EXPECT_NE(printed.find("\n  text: Number of arguments: 1\n"
                         "        arg0 size: 2, content: 01 ab \n"),
            std::string::npos)
      << printed;
  EXPECT_TRUE(printed.ends_with("01 ab \n")) << "the final line feed adds no empty line";
}

TEST(SendFormat, WholeResponses) {
  const Bytes response = Response({{5, 0, 0, 0}, {}});
  EXPECT_EQ(FormatResponse(response, false),
            "items: 2\n"
            "item 0: 4 bytes\n"
            "  05 00 00 00\n"
            "  u32: 5 (0x00000005)\n"
            "item 1: 0 bytes\n");
  EXPECT_EQ(FormatResponse(response, true), "02 04 00 00 00 05 00 00 00 00 00 00 00\n");
  EXPECT_EQ(FormatResponse(Bytes{0}, false), "items: 0\n");

  // An item running past the end is not a response; --raw still shows the bytes.
  const Bytes truncated = {1, 4, 0, 0, 0, 5, 0, 0};
  EXPECT_EQ(FormatResponse(truncated, false), std::nullopt);
  EXPECT_EQ(FormatResponse(Bytes{}, false), std::nullopt);
  EXPECT_EQ(FormatResponse(truncated, true), "01 04 00 00 00 05 00 00\n");
}

TEST(SendFailures, MessagesNameThePipeAndTheError) {
  EXPECT_EQ(ExchangeFailureMessage(ExchangeStage::kConnect, win::kErrorFileNotFound, "/r/pipe/p"),
            "no broker is serving /r/pipe/p (error 2)");
  EXPECT_EQ(ExchangeFailureMessage(ExchangeStage::kRead, win::kErrorBrokenPipe, "/r/pipe/p"),
            "the broker closed the connection without an answer (unknown command or malformed "
            "request?)");
  EXPECT_EQ(ExchangeFailureMessage(ExchangeStage::kConnect, win::kErrorAccessDenied, "P"),
            "cannot connect to P (error 5)");
  EXPECT_EQ(ExchangeFailureMessage(ExchangeStage::kWrite, win::kErrorNoData, "P"),
            "writing the request to P failed (error 232)");
  EXPECT_EQ(ExchangeFailureMessage(ExchangeStage::kRead, win::kErrorFileNotFound, "P"),
            "reading the answer from P failed (error 2)");
}

}  // namespace
