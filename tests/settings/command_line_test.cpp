#include "settings/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

TEST(CommandLineTest, AutoRunIsAPlainSubstringTest) {
  const struct {
    const char* line;
    bool auto_run;
  } cases[] = {
      {"", false},    {"-a", true},     {"-A", true},     {"--all", true},
      {"x-ay", true}, {"-abc", true},   {"\"-a\"", true}, {"foo -A bar", true},
      {"-b", false},  {"/A", false},    {"/a", false},    {"a-", false},
      {"- a", false}, {"-B -b", false}, {"–a", false},  // en dash, not a hyphen
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AutoRunRequested(c.line), c.auto_run) << "'" << c.line << "'";
  }
}

TEST(CommandLineTest, ArgumentsAfterTheProgramAreJoinedBySpaces) {
  const struct {
    std::vector<std::string> arguments;
    const char* joined;
  } cases[] = {
      {{"quillmar"}, ""},
      {{"quillmar", "-a"}, "-a"},
      {{"quillmar", "x", "y z", "-A"}, "x y z -A"},
      {{"quillmar", "", "b"}, " b"},
  };
  for (const auto& c : cases) {
    std::vector<char*> argv;
    std::vector<std::string> storage = c.arguments;
    for (std::string& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);
    EXPECT_EQ(JoinedCommandLine(static_cast<int>(storage.size()), argv.data()), c.joined);
  }
}

}  // namespace
}  // namespace qm
