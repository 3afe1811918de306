// qm_icon_export: renders the program's pixel-art icon at the sizes desktops
// look for, as the PNG files of a hicolor icon theme.
//
//   qm_icon_export INPUT.xpm OUTPUT_DIR SIZE...
//   qm_icon_export INPUT.xpm OUTPUT.ico
//
// The first writes OUTPUT_DIR/<SIZE>x<SIZE>/apps/<name of INPUT>.png for every
// SIZE; the second the Windows icon file, at the icon's own 32 x 32 pixels
// (the size of a Windows program icon; smaller ones Windows derives).
// Scaling takes the nearest source pixel, so every output pixel is one of the
// icon's own colours and the edges stay sharp at every size.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr int kLargestSize = 1024;

Failure UsageFailure(const std::string& what) {
  return Failure(FailureKind::Internal, Cause::kInternal,
                 what +
                     "\nusage: qm_icon_export INPUT.xpm OUTPUT_DIR SIZE...\n"
                     "       qm_icon_export INPUT.xpm OUTPUT.ico");
}

int ParseSize(std::string_view text) {
  int size = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (error != std::errc() || end != text.data() + text.size() || size < 1 || size > kLargestSize) {
    throw UsageFailure("not an icon size: \"" + std::string(text) + "\"");
  }
  return size;
}

QImage LoadIcon(const QString& file) {
  QImage image(file);
  if (image.isNull()) {
    throw Failure(FailureKind::Internal, Cause::kSystem,
                  "cannot read the image " + file.toStdString(), ENOENT);
  }
  // Palette images scale by index; ARGB keeps transparency exact.
  return image.convertToFormat(QImage::Format_ARGB32);
}

void WriteIcon(const QImage& icon, int size, const QString& folder, const QString& name) {
  const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
  if (!QDir().mkpath(apps)) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem,
                  "cannot create the folder " + apps.toStdString(), ENOENT);
  }
  const QImage scaled = icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  const QString file = apps + QLatin1Char('/') + name + QStringLiteral(".png");
  if (!scaled.save(file, "PNG")) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem,
                  "cannot write the icon " + file.toStdString(), EIO);
  }
}

void WriteWindowsIcon(const QImage& icon, const QString& file) {
  if (!icon.save(file, "ICO")) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem,
                  "cannot write the icon " + file.toStdString(), EIO);
  }
}

void ExportIcons(int argc, char* argv[]) {
  const QString input = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  if (argc == 3 && QString::fromLocal8Bit(argv[2]).endsWith(QStringLiteral(".ico"))) {
    WriteWindowsIcon(LoadIcon(input), QString::fromLocal8Bit(argv[2]));
    return;
  }
  if (argc < 4) throw UsageFailure("missing arguments");
  const QString folder = QString::fromLocal8Bit(argv[2]);
  std::vector<int> sizes;
  for (int i = 3; i < argc; ++i) sizes.push_back(ParseSize(argv[i]));
  const QImage icon = LoadIcon(input);
  const QString name = QFileInfo(input).completeBaseName();
  for (int size : sizes) WriteIcon(icon, size, folder, name);
}

}  // namespace
}  // namespace qm

int main(int argc, char* argv[]) {
  try {
    qm::ExportIcons(argc, argv);
    return 0;
  } catch (const qm::Failure& failure) {
    std::fprintf(stderr, "qm_icon_export: %s\n", failure.what());
    return failure.ExitCode();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qm_icon_export: %s\n", error.what());
    return 1;
  }
}
