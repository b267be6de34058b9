#include "capture/TPersistentMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestCam.h"
#include "capture/TSysDevEnum.h"
#include "platform/runtime/Error.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TPersistentMemoryTest, AllocateGivesZeroedBytesAndAssignmentCopies) {
  TPersistentMemory block;
  block.Assign(Bytes{1, 2, 3});
  block.Allocate(5);
  EXPECT_EQ(block.Bytes(), Bytes(5, 0));
  block.Allocate(0);
  EXPECT_TRUE(block.Empty());
  EXPECT_EQ(block.Memory(), nullptr);

  TPersistentMemory source;
  source.Assign(Bytes{7, 8});
  TPersistentMemory copy;
  copy = source;
  copy.Memory()[0] = 9;
  EXPECT_EQ(source.Bytes(), (Bytes{7, 8}));
  EXPECT_EQ(copy.Bytes(), (Bytes{9, 8}));
}

TEST(TPersistentMemoryTest, DataPropertyIsLittleEndianLengthThenBytes) {
  TPersistentMemory block;
  EXPECT_EQ(block.WriteData(), (Bytes{0, 0, 0, 0}));
  Bytes payload(0x0102, 0xAB);
  block.Assign(payload);
  const Bytes data = block.WriteData();
  ASSERT_EQ(data.size(), 4u + 0x0102);
  EXPECT_EQ((Bytes{data.begin(), data.begin() + 4}), (Bytes{0x02, 0x01, 0, 0}));

  // One block read from a stream that goes on takes only its own bytes.
  Bytes stream = data;
  stream.push_back(0x55);
  TPersistentMemory read;
  EXPECT_EQ(read.ReadData(stream), data.size());
  EXPECT_EQ(read.Bytes(), payload);

  // A length beyond the stream's end (here 4 GB) is refused before anything is allocated.
  const Bytes truncated[] = {{3, 0}, {3, 0, 0, 0, 'a', 'b'}, {0xFF, 0xFF, 0xFF, 0xFF, 1}};
  for (const Bytes& bad : truncated) {
    EXPECT_THROW(read.ReadData(bad), EStillwickError);
    EXPECT_EQ(read.Bytes(), payload);
  }
}

TEST(TPersistentMemoryTest, BaseFilterKeepsOneMoniker) {
  TestCamSetCameras({TestCameraSpec{}});
  const auto moniker = TSysDevEnum(CLSID_VideoInputDeviceCategory).MonikerAt(0);
  ASSERT_TRUE(moniker);

  TBaseFilter block;
  EXPECT_FALSE(block.LoadMoniker());
  EXPECT_FALSE(block.BindFilter());
  block.StoreMoniker(moniker.get());
  const auto loaded = block.LoadMoniker();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Text(), moniker->Text());
  EXPECT_TRUE(block.BindFilter());

  // A block that went through the data property still binds.
  TBaseFilter restored;
  restored.ReadData(block.WriteData());
  EXPECT_TRUE(restored.BindFilter());

  block.StoreMoniker(nullptr);
  EXPECT_TRUE(block.Empty());
  block.Assign(std::vector<std::uint8_t>{'x', 'y'});
  EXPECT_FALSE(block.LoadMoniker());
  TestCamSetCameras({});
}

}  // namespace
