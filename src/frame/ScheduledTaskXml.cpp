#include <string_view>

#include "frame/ScheduledRun.h"

namespace qm {
namespace {

std::string Escaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string ScheduledTaskXml(const std::string& program, std::chrono::minutes every,
                             const std::string& start) {
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
         "<Task version=\"1.2\" "
         "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
         "  <RegistrationInfo><Description>Quillmar -a</Description></RegistrationInfo>\n"
         "  <Triggers>\n"
         "    <TimeTrigger>\n"
         "      <StartBoundary>" +
         Escaped(start) +
         "</StartBoundary>\n"
         "      <Repetition><Interval>PT" +
         std::to_string(every.count()) +
         "M</Interval></Repetition>\n"
         "      <Enabled>true</Enabled>\n"
         "    </TimeTrigger>\n"
         "  </Triggers>\n"
         "  <Principals>\n"
         "    <Principal id=\"Author\"><LogonType>InteractiveToken</LogonType>"
         "<RunLevel>LeastPrivilege</RunLevel></Principal>\n"
         "  </Principals>\n"
         "  <Settings>\n"
         "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
         "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
         "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
         "    <ExecutionTimeLimit>PT1H</ExecutionTimeLimit>\n"
         "    <Enabled>true</Enabled>\n"
         "  </Settings>\n"
         "  <Actions Context=\"Author\">\n"
         "    <Exec><Command>" +
         Escaped(program) +
         "</Command><Arguments>-a</Arguments></Exec>\n"
         "  </Actions>\n"
         "</Task>\n";
}

}  // namespace qm
