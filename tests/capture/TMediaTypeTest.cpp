#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "capture/TMediaType.h"

namespace {

// The grabber's type as stored: video, RGB24, VIDEOINFOHEADER, no block.
const std::vector<uint8_t> kGrabberTypeData = {
    0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA,  // majortype
    0x00, 0x38, 0x9B, 0x71,                                                  //
    0x7D, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11, 0x9F, 0x53, 0x00, 0x20,  // subtype
    0xAF, 0x0B, 0xA7, 0x70,                                                  //
    0xFF, 0xFF, 0xFF, 0xFF,                                                  // fixed size
    0x00, 0x00, 0x00, 0x00,                                                  // compression
    0x01, 0x00, 0x00, 0x00,                                                  // sample size
    0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11, 0xBF, 0x01, 0x00, 0xAA,  // formattype
    0x00, 0x55, 0x59, 0x5A,                                                  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // pUnk, cb, pb
};

TMediaType GrabberType() {
  TMediaType type(MEDIATYPE_Video);
  type.SetSubtype(MEDIASUBTYPE_RGB24);
  type.SetFormatType(FORMAT_VideoInfo);
  return type;
}

std::vector<uint8_t> Block(size_t size, uint8_t first) {
  std::vector<uint8_t> block(size);
  for (size_t i = 0; i < size; ++i)
    block[i] = static_cast<uint8_t>(first + i);
  return block;
}

TEST(TMediaTypeTest, ConstructionDefaultsAndStoredForm) {
  const TMediaType bare(MEDIATYPE_Video);
  EXPECT_EQ(bare.Record().header.lSampleSize, 1u);
  EXPECT_EQ(bare.Record().header.bFixedSizeSamples, -1);
  EXPECT_EQ(bare.Subtype(), GUID_NULL);
  EXPECT_EQ(bare.FormatType(), GUID_NULL);
  EXPECT_EQ(bare.Data().size(), 72u);

  EXPECT_EQ(GrabberType().Data(), kGrabberTypeData);
  TMediaType loaded(GUID_NULL);
  ASSERT_TRUE(loaded.SetData(kGrabberTypeData));
  EXPECT_EQ(loaded, GrabberType());
  EXPECT_EQ(loaded.Record().header.lSampleSize, 1u);
}

TEST(TMediaTypeTest, FormatBlockRoundTripStoresNoAddresses) {
  TMediaType type = GrabberType();
  SetFormatBlock(type.Record(), Block(88, 7));
  std::vector<uint8_t> data = type.Data();
  ASSERT_EQ(data.size(), 72u + 88u);
  uint32_t cbFormat = 0;
  std::memcpy(&cbFormat, &data[64], 4);
  EXPECT_EQ(cbFormat, 88u);
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 72, data.end()), Block(88, 7));

  // Addresses found in stored bytes are not taken over.
  std::memset(&data[60], 0xAB, 4);
  std::memset(&data[68], 0xCD, 4);
  TMediaType loaded(GUID_NULL);
  ASSERT_TRUE(loaded.SetData(data));
  EXPECT_EQ(loaded, type);
  EXPECT_EQ(loaded.Record().header.pUnk, 0u);
  EXPECT_EQ(loaded.Record().header.pbFormat, 0u);
  EXPECT_EQ(loaded.Data(), type.Data());

  FreeFormatBlock(loaded.Record());
  EXPECT_EQ(loaded.Record().header.cbFormat, 0u);
  EXPECT_EQ(loaded.Record().pbFormat(), nullptr);
  EXPECT_EQ(loaded.Data(), kGrabberTypeData);
}

TEST(TMediaTypeTest, DamagedDataIsRefusedAndChangesNothing) {
  std::vector<uint8_t> announcesBlock = kGrabberTypeData;
  announcesBlock[64] = 16;  // cbFormat 16, no block follows
  std::vector<uint8_t> trailing = kGrabberTypeData;
  trailing.push_back(0);
  const std::vector<std::vector<uint8_t>> damaged = {
      {},
      std::vector<uint8_t>(kGrabberTypeData.begin(), kGrabberTypeData.end() - 1),
      announcesBlock,
      trailing};
  for (const auto& data : damaged) {
    TMediaType type = GrabberType();
    SetFormatBlock(type.Record(), Block(4, 1));
    const std::vector<uint8_t> before = type.Data();
    EXPECT_FALSE(type.SetData(data)) << data.size() << " bytes";
    EXPECT_EQ(type.Data(), before);
  }
}

TEST(TMediaTypeTest, EqualityComparesTypesAndBlockOnly) {
  struct Case {
    const char* change;
    std::function<void(TMediaType&)> apply;
    bool equal;
  };
  const std::vector<Case> cases = {
      {"major type", [](TMediaType& t) { t.Record().header.majortype = GUID_NULL; }, false},
      {"subtype", [](TMediaType& t) { t.SetSubtype(MEDIASUBTYPE_RGB32); }, false},
      {"format type", [](TMediaType& t) { t.SetFormatType(FORMAT_VideoInfo2); }, false},
      {"block length", [](TMediaType& t) { SetFormatBlock(t.Record(), Block(5, 1)); }, false},
      {"block bytes", [](TMediaType& t) { SetFormatBlock(t.Record(), Block(4, 2)); }, false},
      {"sample size", [](TMediaType& t) { t.Record().header.lSampleSize = 99; }, true},
      {"fixed size", [](TMediaType& t) { t.Record().header.bFixedSizeSamples = 0; }, true},
      {"compression", [](TMediaType& t) { t.Record().header.bTemporalCompression = -1; }, true},
  };
  TMediaType reference = GrabberType();
  SetFormatBlock(reference.Record(), Block(4, 1));
  for (const Case& c : cases) {
    TMediaType changed = reference;
    c.apply(changed);
    EXPECT_EQ(changed == reference, c.equal) << c.change;
  }
}

}  // namespace
