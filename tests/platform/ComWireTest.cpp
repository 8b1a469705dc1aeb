// The remoting's message format: header checks, every truncation of a valid message, and the
// rules that keep a reply from writing into the wrong argument.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/detail/ComWire.h"

namespace {

namespace wire = platform::detail::wire;
using wire::MessageType;

std::vector<uint8_t> Body(const std::vector<uint8_t>& message) {
  return std::vector<uint8_t>(message.begin() + wire::kHeaderSize, message.end());
}

std::vector<uint8_t> InvokeMessage() {
  BSTR text = SysAllocStringByteLen("payload", 7);
  SHORT i2 = 5;
  VARIANTARG args[3];
  for (VARIANTARG& arg : args) VariantInit(&arg);
  args[0].vt = VT_BSTR | VT_BYREF;
  args[0].pbstrVal = &text;
  args[1].vt = VT_I2 | VT_BYREF;
  args[1].piVal = &i2;
  args[2].vt = VT_BSTR;
  args[2].bstrVal = nullptr;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{args, &named, 3, 1};
  wire::Writer writer(MessageType::kInvoke, 9);
  writer.I32(208);
  writer.Guid(IID_NULL);
  writer.U32(LOCALE_USER_DEFAULT);
  writer.U16(DISPATCH_METHOD);
  writer.U8(wire::kWantResult);
  EXPECT_EQ(writer.Params(&params), S_OK);
  SysFreeString(text);
  return writer.Finish();
}

TEST(ComWireTest, InvokeRoundTripsAndEveryTruncationIsRefused) {
  const std::vector<uint8_t> body = Body(InvokeMessage());
  {
    wire::InvokeRequest request;
    wire::Reader reader(body.data(), body.size());
    ASSERT_TRUE(wire::DecodeInvoke(reader, &request));
    DISPPARAMS* params = request.params.Params();
    ASSERT_EQ(params->cArgs, 3u);
    ASSERT_EQ(params->cNamedArgs, 1u);
    EXPECT_EQ(params->rgdispidNamedArgs[0], DISPID_PROPERTYPUT);
    ASSERT_EQ(params->rgvarg[0].vt, VT_BSTR | VT_BYREF);
    EXPECT_EQ(SysStringByteLen(*params->rgvarg[0].pbstrVal), 7u);
    ASSERT_EQ(params->rgvarg[1].vt, VT_I2 | VT_BYREF);
    EXPECT_EQ(*params->rgvarg[1].piVal, 5);
    EXPECT_EQ(params->rgvarg[2].vt, VT_BSTR);
    EXPECT_EQ(params->rgvarg[2].bstrVal, nullptr);  // the null string stays null
  }
  for (size_t cut = 0; cut < body.size(); ++cut) {
    wire::InvokeRequest request;
    wire::Reader reader(body.data(), cut);
    EXPECT_FALSE(wire::DecodeInvoke(reader, &request)) << cut;
  }
  auto longer = body;
  longer.push_back(0);
  wire::InvokeRequest request;
  wire::Reader reader(longer.data(), longer.size());
  EXPECT_FALSE(wire::DecodeInvoke(reader, &request)) << "trailing byte";
}

TEST(ComWireTest, VersionsLengthsCountsAndTypesBeyondTheLimitsAreRefused) {
  wire::Writer writer(MessageType::kReply, 1);
  writer.U16(VT_BSTR);
  writer.U32(0x7FFFFFFF);
  std::vector<uint8_t> message = writer.Finish();
  wire::Header header;  // the longest body passes, another version does not
  const uint32_t longest = wire::kMaxBody;
  std::memcpy(message.data() + 12, &longest, 4);
  EXPECT_EQ(wire::DecodeHeader(message.data(), &header), wire::HeaderStatus::kOk);
  message[4] = 2;
  EXPECT_EQ(wire::DecodeHeader(message.data(), &header), wire::HeaderStatus::kBadVersion);
  const std::vector<uint8_t> body = Body(message);
  wire::Reader reader(body.data(), body.size());
  VARIANT value;
  bool by_reference = false;
  EXPECT_FALSE(reader.Variant(&value, &by_reference));
  EXPECT_EQ(value.vt, VT_EMPTY);
  wire::Writer big_writer(MessageType::kReply, 1);
  const std::vector<uint8_t> big(wire::kMaxBody + 1, 0);
  big_writer.Raw(big.data(), big.size());
  EXPECT_TRUE(big_writer.Finish().empty());
  std::vector<VARIANTARG> args(wire::kMaxArguments + 1);
  for (VARIANTARG& arg : args) VariantInit(&arg);
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  wire::Writer invoke_writer(MessageType::kInvoke, 1);
  EXPECT_EQ(invoke_writer.Params(&params), E_INVALIDARG);

  wire::Writer forged(MessageType::kEvent, 0);
  forged.U32(wire::kMaxArguments + 1);
  forged.U32(0);
  for (uint32_t i = 0; i <= wire::kMaxArguments; ++i) forged.U16(VT_EMPTY);
  const std::vector<uint8_t> forged_body = Body(forged.Finish());
  wire::Reader forged_reader(forged_body.data(), forged_body.size());
  wire::DecodedParams decoded;
  EXPECT_FALSE(decoded.Decode(forged_reader));
  VARIANT bad_value;
  VariantInit(&bad_value);
  bad_value.vt = VT_UNKNOWN;
  wire::Writer reply_writer(MessageType::kReply, 1);
  EXPECT_EQ(reply_writer.Variant(bad_value), DISP_E_BADVARTYPE);
  bad_value.vt = VT_EMPTY | VT_BYREF;
  EXPECT_EQ(reply_writer.Variant(bad_value), DISP_E_BADVARTYPE);
  bad_value.vt = VT_I4 | VT_BYREF;
  bad_value.plVal = nullptr;
  EXPECT_EQ(reply_writer.Variant(bad_value), E_POINTER);

  const uint8_t dispatch[] = {VT_DISPATCH, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  wire::Reader dispatch_reader(dispatch, sizeof dispatch);
  bool bad_by_reference = false;
  EXPECT_FALSE(dispatch_reader.Variant(&bad_value, &bad_by_reference));
}

TEST(ComWireTest, OutputsForTheWrongArgumentChangeNothing) {
  BSTR text = SysAllocStringByteLen("keep", 4);
  SHORT i2 = 1;
  VARIANTARG args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[0].vt = VT_BSTR | VT_BYREF;
  args[0].pbstrVal = &text;
  args[1].vt = VT_I2 | VT_BYREF;
  args[1].piVal = &i2;
  DISPPARAMS params{args, nullptr, 2, 0};

  auto reply_with = [](std::vector<std::pair<uint32_t, VARIANT>> outputs) {
    wire::Writer writer(MessageType::kReply, 1);
    writer.I32(S_OK);
    writer.U32(0);
    writer.U8(0);
    writer.U8(0);
    writer.U32(static_cast<uint32_t>(outputs.size()));
    for (auto& [index, value] : outputs) {
      writer.U32(index);
      writer.Variant(value);
    }
    return Body(writer.Finish());
  };
  VARIANT i2_value;
  VariantInit(&i2_value);
  i2_value.vt = VT_I2;
  i2_value.iVal = 9;
  // Index 0 is the string, but the reply says I2: refused as a whole, even
  // though its second output would fit.
  for (const auto& body :
       {reply_with({{1, i2_value}, {0, i2_value}}), reply_with({{2, i2_value}})}) {
    wire::InvokeReply reply;
    wire::Reader reader(body.data(), body.size());
    ASSERT_TRUE(wire::DecodeInvokeReply(reader, &reply));
    EXPECT_FALSE(wire::ApplyOutputs(reply, &params));
    EXPECT_EQ(i2, 1);
    EXPECT_EQ(SysStringByteLen(text), 4u);
  }
  const auto good = reply_with({{1, i2_value}});
  wire::InvokeReply reply;
  wire::Reader reader(good.data(), good.size());
  ASSERT_TRUE(wire::DecodeInvokeReply(reader, &reply));
  EXPECT_TRUE(wire::ApplyOutputs(reply, &params));
  EXPECT_EQ(i2, 9);
  SysFreeString(text);
}

}  // namespace
