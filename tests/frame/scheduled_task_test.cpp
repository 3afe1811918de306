// The task the window registers with Task Scheduler: well-formed XML whose
// action starts the program as given with "-a", repeated as chosen, only
// while the user is logged on, never two runs at once.

#include <gtest/gtest.h>

#include <QString>
#include <QXmlStreamReader>
#include <chrono>
#include <map>
#include <string>

#include "frame/ScheduledRun.h"

namespace qm {
namespace {

// Element name -> text, for the elements that hold text.
std::map<QString, QString> TextElements(const std::string& xml) {
  // As text: the declaration says UTF-16, which the file written from it is.
  QXmlStreamReader reader(QString::fromStdString(xml));
  std::map<QString, QString> found;
  QString name;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement()) name = reader.name().toString();
    if (reader.isCharacters() && !reader.isWhitespace()) found[name] = reader.text().toString();
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return found;
}

TEST(ScheduledTask, StartsTheProgramWithDashAEveryChosenInterval) {
  struct Case {
    std::string program;
    int minutes;
    const char* interval;
  };
  const Case cases[] = {
      {R"(C:\Users\山田\AppData\Local\Programs\Quillmar\quillmar.exe)", 15, "PT15M"},
      {R"(C:\Program Files\R&D <tools>\"quillmar".exe)", 5, "PT5M"},
      {R"(D:\Q\quillmar.exe)", 1440, "PT1440M"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    const std::map<QString, QString> task = TextElements(
        ScheduledTaskXml(c.program, std::chrono::minutes(c.minutes), "2026-12-09T08:00:00"));
    EXPECT_EQ(task.at("Command").toStdString(), c.program);
    EXPECT_EQ(task.at("Arguments"), "-a");
    EXPECT_EQ(task.at("Interval"), c.interval);
    EXPECT_EQ(task.at("StartBoundary"), "2026-12-09T08:00:00");
    EXPECT_EQ(task.at("LogonType"), "InteractiveToken");
    EXPECT_EQ(task.at("MultipleInstancesPolicy"), "IgnoreNew");
  }
}

}  // namespace
}  // namespace qm
