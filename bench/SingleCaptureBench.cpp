// Single capture: "捕获单张图片" from the handler's entry until the picture file is renamed into
// place, with a 1920x1080 and a 3840x2160 frame in the display of a paused live camera, against
// a plain open()+write()+close() of the same bytes in the same folder: (a) under a new name and
// (b) over an existing file of that name. The cases are interleaved, in turn leading, so disk
// noise falls on all of them.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "Bench.h"
#include "TSpinEdit.h"
#include "platform/BmpFile.h"
#include "platform/HandlerGuard.h"
#include "uMain.h"

namespace bench {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

double PlainWrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    throw BenchError("cannot open " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw BenchError("cannot write " + path);
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0)
    throw BenchError("cannot close " + path);
  return Ms(Clock::now() - start);
}

// Waits until the file's data is on the disk.
void Settle(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0)
    throw BenchError("cannot flush " + path);
  ::close(fd);
}

double Capture(TFrmMain& window) {
  double ms = -1;
  Guarded([&] {
    const auto start = Clock::now();
    window.btnGetPicClick();
    ms = Ms(Clock::now() - start);
  });
  if (ms < 0)
    throw BenchError("the capture failed");
  return ms;
}

void SingleCaptureBench(Context& context) {
  struct Size {
    int width, height, rounds;
  };
  const QString folder = context.scratch + "/capture";
  QDir().mkpath(folder);
  for (const Size size : {Size{1920, 1080, 20}, Size{3840, 2160, 12}}) {
    auto window = OpenWindow();
    TFrmMain& w = *window;
    w.edFileDir->setText(folder);
    w.edPreText->setText("bench-");
    w.spStartNum->SetValue(1);
    StartCamera(w, Camera(size.width, size.height, 30));
    w.btnPause->click();
    WaitFor([&] { return w.FGVCap.State() == GraphState::Paused; }, "the graph to pause");
    Pump(300);

    const std::string product = w.BuildPictureFileName(1);
    const std::string plain = (folder + "/plain-01.bmp").toStdString();
    Capture(w);
    const std::vector<uint8_t> bytes = ReadFile(product);
    const size_t expected = 54 + static_cast<size_t>(size.width) * 3 * size.height;
    if (bytes.size() != expected)
      throw BenchError("the picture file has an unexpected size");

    std::vector<double> productNew, productOver, plainNew, plainOver, writerNew;
    const std::string writer = (folder + "/writer-01.bmp").toStdString();
    // Each case first writes under a new name, then, once that file has reached the disk (as
    // an older picture would have), over it. The removals and the flush are not timed.
    const std::function<void()> steps[] = {
        [&] {
          ::unlink(product.c_str());
          productNew.push_back(Capture(w));
          Settle(product);
          productOver.push_back(Capture(w));
        },
        [&] {
          ::unlink(plain.c_str());
          plainNew.push_back(PlainWrite(plain, bytes));
          Settle(plain);
          plainOver.push_back(PlainWrite(plain, bytes));
        },
        // The file writer alone, for telling its share from the handler's.
        [&] {
          ::unlink(writer.c_str());
          TBitmap::Ref picture = w.Picture.Snapshot();
          const auto start = Clock::now();
          WriteBmpFile(writer, *picture);
          writerNew.push_back(Ms(Clock::now() - start));
        },
    };
    const int warmUp = 2;
    for (int round = 0; round < warmUp + size.rounds; ++round) {
      for (size_t i = 0; i < std::size(steps); ++i)
        steps[(static_cast<size_t>(round) + i) % std::size(steps)]();
      QCoreApplication::processEvents();
      if (round + 1 == warmUp) {
        for (auto* times : {&productNew, &productOver, &plainNew, &plainOver, &writerNew})
          times->clear();
      }
    }
    window.reset();
    ::unlink(product.c_str());
    ::unlink(plain.c_str());
    ::unlink(writer.c_str());

    const std::string name = Format("single capture %dx%d", size.width, size.height);
    context.report.Ratio(name + " new", Median(productNew), Median(plainNew), 1.3, "<=1.3x");
    context.report.Ratio(name + " over", Median(productOver), Median(plainOver), 1.3, "<=1.3x");
    context.report.Info("  of which the BMP writer, new", FormatMs(Median(writerNew)),
                        FormatMs(Median(plainNew)),
                        Format("%.2fx", Median(writerNew) / Median(plainNew)));
  }
}

const GroupRegistration registration{40, "capture", SingleCaptureBench};

}  // namespace
}  // namespace bench
