#pragma once
// A BMP file as an independent decoder reads it (support/read_bmp.py, through PIL).

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

// "BMP width height mode", then "r,g,b" for each pixel asked for as "x,y".
inline QStringList ReadBmp(const QString& path, const QStringList& pixels = {}) {
  QProcess python;
  python.start(STILLWICK_PYTHON, QStringList{STILLWICK_READ_BMP, path} + pixels);
  EXPECT_TRUE(python.waitForFinished(30000));
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}
