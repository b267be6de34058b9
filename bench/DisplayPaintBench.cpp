// Display paint: the display area drawing a 1920x1080 24-bit picture over its 507x418, against
// a bare QPainter::drawImage of the same image into the same kind of target.
#include <QImage>
#include <QPainter>

#include <cstring>
#include <memory>
#include <vector>

#include "Bench.h"
#include "platform/picture/TBitmap.h"
#include "widgets/TImage.h"

namespace bench {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRounds = 30;
constexpr int kPerRound = 20;

// Median time of one call, over rounds of `kPerRound` calls.
class Timing {
 public:
  template <typename F>
  void Round(F&& paint) {
    const double cpuStart = ProcessCpuMs();
    const auto start = Clock::now();
    for (int i = 0; i < kPerRound; ++i)
      paint();
    perCall.push_back(Ms(Clock::now() - start) / kPerRound);
    cpuPerCall.push_back((ProcessCpuMs() - cpuStart) / kPerRound);
  }
  std::vector<double> perCall;
  std::vector<double> cpuPerCall;  // all threads: Qt may share a large draw out
};

void DisplayPaintBench(Context& context) {
  // A top-down 24-bit picture, as the grabber makes them, with something to scale.
  BITMAPINFOHEADER header;
  header.biWidth = kWidth;
  header.biHeight = -kHeight;
  header.biBitCount = 24;
  std::shared_ptr<Dib> dib = Dib::Create(header);
  if (!dib)
    throw BenchError("cannot make a 1920x1080 picture");
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = dib->Bits() + static_cast<size_t>(y) * dib->Stride();
    for (int x = 0; x < kWidth * 3; ++x)
      row[x] = static_cast<uint8_t>(x * 3 + y);
  }
  const QImage source = TImage::ImageOver(static_cast<const Dib&>(*dib));
  TBitmap picture;
  {
    std::lock_guard lock(picture);
    picture.Adopt(dib);
  }

  TImage image(picture);
  image.resize(507, 418);
  // The screen's format: what a backing store holds.
  QImage widgetTarget(image.size(), QImage::Format_RGB32);
  QImage bareTarget(image.size(), QImage::Format_RGB32);
  auto paintWidget = [&] { image.render(&widgetTarget, QPoint(), QRegion(), {}); };
  auto paintBare = [&] {
    QPainter painter(&bareTarget);
    painter.drawImage(QRect(QPoint(), bareTarget.size()), source);
  };

  for (int i = 0; i < 30; ++i) {
    paintWidget();
    paintBare();
  }
  if (widgetTarget != bareTarget)
    throw BenchError("the display area drew something else than the bare drawImage");

  Timing widget, bare;
  for (int round = 0; round < kRounds; ++round) {
    // Alternating which goes first cancels any advantage of the second.
    if (round % 2 == 0) {
      widget.Round(paintWidget);
      bare.Round(paintBare);
    } else {
      bare.Round(paintBare);
      widget.Round(paintWidget);
    }
  }
  context.report.Ratio("display paint 1920x1080 -> 507x418", Median(widget.perCall),
                       Median(bare.perCall), 1.2, "<=1.2x");
  context.report.Info("  CPU of one paint, all threads", FormatMs(Median(widget.cpuPerCall)),
                      FormatMs(Median(bare.cpuPerCall)),
                      Format("%.2fx", Median(widget.cpuPerCall) / Median(bare.cpuPerCall)));
}

const GroupRegistration registration{30, "paint", DisplayPaintBench};

}  // namespace
}  // namespace bench
