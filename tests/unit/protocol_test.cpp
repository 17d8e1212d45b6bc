#include "pipe/protocol.h"

#include <gtest/gtest.h>

#include <vector>


namespace {

using Bytes = std::vector<uint8_t>;
using ironbark::ParseRequest, ironbark::ParseStatus;

ParseStatus Parse(const std::vector<uint8_t>& message, std::optional<ironbark::CommandRequest>* out) {
  return ParseRequest(message.data(), static_cast<uint32_t>(message.size()), out);
}

TEST(RequestCodec, EncodesAndOffsetsPointAtEachArgumentsData) {
  EXPECT_EQ(ironbark::EncodeRequest(21, std::vector<std::vector<uint8_t>>{Bytes{5, 0, 0, 0}}),
            (Bytes{0x15, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00}));
  EXPECT_EQ(ironbark::EncodeRequest(0x1234, {}), (Bytes{0x34, 0x12, 0x00}));
  const std::vector<std::vector<uint8_t>> args = {Bytes{0xAA}, {}, Bytes{1, 2, 3}};
  const auto message = ironbark::EncodeRequest(0x0115, args);
  std::optional<ironbark::CommandRequest> request;
  ASSERT_EQ(Parse(message, &request), ParseStatus::kOk);
  EXPECT_EQ(request->code(), 0x0115) << "the code is both bytes, never 0x15";
  EXPECT_EQ(request->offsets(), (std::vector<uint32_t>{7, 12, 16}));
  EXPECT_EQ(request->ArgumentLength(1), 0u);
  EXPECT_EQ(request->Argument(2)[2], 3);
}

TEST(RequestCodec, RejectsShortAndOverrunningMessagesAndIgnoresTrailingBytes) {
  const struct { std::vector<uint8_t> message; ParseStatus status; } rows[] = {
      {Bytes{0, 0}, ParseStatus::kTooShort},
      {{}, ParseStatus::kTooShort},
      {Bytes{0, 0, 1, 4, 0, 0}, ParseStatus::kMalformed},         // no room for the length
      {Bytes{0, 0, 1, 2, 0, 0, 0, 0xAB}, ParseStatus::kMalformed},  // one past the end
      {Bytes{0, 0, 2, 1, 0, 0, 0, 7, 9, 0, 0, 0, 1}, ParseStatus::kMalformed},  // the 2nd
      // Lengths near 2^32 must not wrap around into a "valid" offset.
      {Bytes{0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}, ParseStatus::kMalformed},
      {Bytes{0, 0, 2, 0, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0xFF}, ParseStatus::kMalformed},
      {Bytes{0, 0, 1, 1, 0, 0, 0, 0x42, 0xEE, 0xEE}, ParseStatus::kOk}};
  for (const auto& row : rows) {
    std::optional<ironbark::CommandRequest> request;
    EXPECT_EQ(Parse(row.message, &request), row.status) << row.message.size();
    EXPECT_EQ(request.has_value(), row.status == ParseStatus::kOk);
  }
}

TEST(RequestArguments, NumbersFollowTheHandlerWidthAndTextsNeedTheirTerminatingZero) {
  const std::vector<std::vector<uint8_t>> args = {
      Bytes{0x78, 0x56, 0x34, 0x12}, Bytes{1, 0, 0, 0, 0, 0, 0, 0x80}, Bytes{0x34, 0x12}, {},
      Bytes{'H', 0, 'K', 0, 0, 0}, Bytes{'H', 0, 'K', 0}, Bytes{'A', 0, 0, 0, 'B'}, Bytes{'A', 0, 0}};
  const auto message = ironbark::EncodeRequest(1, args);
  std::optional<ironbark::CommandRequest> request;
  ASSERT_EQ(Parse(message, &request), ParseStatus::kOk);
  EXPECT_EQ(request->ArgumentU32(0), 0x12345678u);
  EXPECT_EQ(request->ArgumentU32(1), 0u) << "longer than 32 bits counts as 0";
  EXPECT_EQ(request->ArgumentU64(1), 0x8000000000000001ull);
  EXPECT_EQ(request->ArgumentU32(2), 0x1234u);
  EXPECT_EQ(request->ArgumentU32(3), 0u);
  EXPECT_EQ(request->ArgumentU32(8), 0u) << "missing argument counts as 0";
  EXPECT_EQ(request->ArgumentU64(9), 0u);
  EXPECT_TRUE(request->Argument(8).empty());
  EXPECT_EQ(request->ArgumentText(4), "HK");
  EXPECT_EQ(request->ArgumentText(5), std::nullopt);
  EXPECT_EQ(request->ArgumentText(6), "A") << "odd byte count rounds down";
  EXPECT_EQ(request->ArgumentText(7), std::nullopt) << "a lone trailing zero byte is no NUL";
  EXPECT_EQ(request->ArgumentText(8), std::nullopt);
}

TEST(ResponseCodec, BuildsCountLengthsAndBytes) {
  ironbark::CommandResponse response;
  const uint32_t value = 0xDDCCBBAA;
  const uint8_t data[2] = {1, 2};
  ironbark::BuildResponse(response, {{&value, 4}, {data, 2}, {nullptr, 0}});
  EXPECT_TRUE(response.present);
  EXPECT_EQ(response.bytes, (Bytes{3, 4, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD, 2, 0, 0, 0, 1, 2, 0, 0, 0, 0}));

  std::vector<std::vector<uint8_t>> items;
  ASSERT_TRUE(ironbark::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1], (Bytes{1, 2}));
  EXPECT_FALSE(ironbark::ParseResponse(response.bytes.data(), response.bytes.size() - 1, &items));
  EXPECT_FALSE(ironbark::ParseResponse(nullptr, 0, &items));
}

}  // namespace
