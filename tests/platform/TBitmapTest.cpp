#include <gtest/gtest.h>

#include <mutex>

#include "platform/picture/TBitmap.h"

namespace {

BITMAPINFOHEADER Header(int width, int height, int bits = 24) {
  BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<uint16_t>(bits);
  return h;
}

TEST(TBitmapTest, DibRowsArePaddedAndScanLinesCountFromTheTop) {
  auto bottomUp = Dib::Create(Header(321, 3));
  ASSERT_TRUE(bottomUp);
  EXPECT_EQ(bottomUp->Stride(), 964u);  // 963 bytes padded to 4
  EXPECT_EQ(bottomUp->ScanLine(0), bottomUp->Bits() + std::ptrdiff_t{2} * 964);
  auto topDown = Dib::Create(Header(321, -3));
  ASSERT_TRUE(topDown);
  EXPECT_EQ(topDown->ScanLine(0), topDown->Bits());
  EXPECT_EQ(topDown->Height(), 3);
}

TEST(TBitmapTest, DibRefusesHeadersThatDescribeNoBitmap) {
  EXPECT_FALSE(Dib::Create(Header(0, 10)));
  EXPECT_FALSE(Dib::Create(Header(10, 0)));
  EXPECT_FALSE(Dib::Create(Header(10, 10, 12)));
  EXPECT_FALSE(Dib::Create(Header(1 << 20, 1 << 20)));  // far beyond any frame
  BITMAPINFOHEADER compressed = Header(10, 10);
  compressed.biCompression = 1;
  EXPECT_FALSE(Dib::Create(compressed));
}

TEST(TBitmapTest, RetiredPicturesAreReusedOnlyOnceNobodyHoldsThem) {
  TBitmap bitmap;
  std::lock_guard lock(bitmap);
  auto first = bitmap.Reusable(Header(4, -4));
  const Dib* firstAddress = first.get();
  bitmap.Adopt(std::move(first));

  TBitmap::Ref held = bitmap.Snapshot();
  bitmap.Adopt(bitmap.Reusable(Header(4, -4)));
  // The first picture is retired but still referenced: never handed out for writing.
  auto third = bitmap.Reusable(Header(4, -4));
  EXPECT_NE(third.get(), firstAddress);

  held.Reset();
  auto reused = bitmap.Reusable(Header(4, -4));
  EXPECT_EQ(reused.get(), firstAddress);
  // Another geometry never takes recycled memory of the wrong size.
  bitmap.Adopt(std::move(reused));
  EXPECT_EQ(bitmap.Handle(), firstAddress);
  auto other = bitmap.Reusable(Header(8, -4));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->Width(), 8);
}

TEST(TBitmapTest, AdoptionRunsTheChangeCallback) {
  TBitmap bitmap;
  int changes = 0;
  bitmap.SetOnChanged([&] { ++changes; });
  std::lock_guard lock(bitmap);
  bitmap.Adopt(Dib::Create(Header(2, 2)));
  bitmap.Adopt(Dib::Create(Header(2, 2)));
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(bitmap.Empty());
}

}  // namespace
