#include "frame/ReportSetAside.h"

#include <QMessageBox>
#include <QString>
#include <cstdio>

#include "frame/QtPlatform.h"

namespace qm {

std::string SetAsideLine(const std::filesystem::path& moved_to) {
  std::string path = moved_to.string();
  for (char& c : path) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return "quillmar: the settings file could not be read; it was moved to " + path +
         " and a new one written";
}

void ReportSetAside(const std::filesystem::path& moved_to, bool show_box) {
  std::fprintf(stderr, "%s\n", SetAsideLine(moved_to).c_str());
  std::fflush(stderr);
  if (!show_box) return;
  const QString text =
      QStringLiteral("設定ファイルを読めなかったため、%1 に移して新しく作りました。")
          .arg(QString::fromStdString(moved_to.string()));
  QMessageBox::warning(nullptr, QStringLiteral("Quillmar"), text);
}

std::unique_ptr<Registry> OpenReportingRegistry() {
  return OpenPlatformRegistry(
      [](const std::filesystem::path& moved_to) { ReportSetAside(moved_to, HasDisplay()); });
}

}  // namespace qm
