#pragma once
// What the settings tests share across both stores (the REGEDIT4 file here,
// the real registry under Wine): comparing records and the round-trip cases.

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "settings/Settings.h"

namespace qm::testing {

inline auto Fields(const SettingsRecord& r) {
  return std::tie(r.Path, r.Keyword, r.Item, r.Opt, r.Left, r.Top, r.AutoRun);
}

inline std::string Describe(const SettingsRecord& r) {
  return "{'" + r.Path + "', '" + r.Keyword + "', " + std::to_string(r.Item) + ", [" +
         std::to_string(r.Opt[0]) + "," + std::to_string(r.Opt[1]) + "," +
         std::to_string(r.Opt[2]) + "], " + std::to_string(r.Left) + ", " + std::to_string(r.Top) +
         ", " + (r.AutoRun ? "auto" : "manual") + "}";
}

// Values different from the defaults everywhere, so that any field a load
// should not touch shows when it does.
inline SettingsRecord Distinct(const std::string& path) {
  SettingsRecord r;
  r.Path = path;
  r.Keyword = "old";
  r.Item = 1;
  r.Opt = {1, 1, 1};
  r.Left = 77;
  r.Top = 88;
  r.AutoRun = true;
  return r;
}

// Records that must load back unchanged after a save: defaults, a Japanese
// folder with a negative position, text needing escapes at the range limits,
// and values longer than any fixed read buffer.
inline std::vector<SettingsRecord> RoundTripCases(const std::string& japanese_folder,
                                                  const std::string& awkward_path) {
  std::vector<SettingsRecord> cases(4);
  cases[1].Path = japanese_folder;
  cases[1].Keyword = "invoice";
  cases[1].Item = 2;
  cases[1].Opt = {1, 0, 2};
  cases[1].Left = -120;
  cases[1].Top = 4500;
  cases[2].Path = awkward_path;
  cases[2].Keyword = "請求書/ｱﾄﾞﾚｽ";
  cases[2].Left = INT32_MIN;
  cases[2].Top = INT32_MAX;
  for (int i = 0; i < 160; ++i) cases[3].Path += "表";
  cases[3].Keyword = std::string(1000, 'k');
  return cases;
}

}  // namespace qm::testing
