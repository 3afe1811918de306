#include "mime/GMimeSetup.h"

#include <iconv.h>

#include <array>
#include <iterator>
#include <mutex>

namespace qm {
namespace {

// glibc loads a charset converter module at iconv_open and unloads it again
// when its last user closes it, and GMime opens and closes a converter for
// every encoded parameter it parses: thousands of loads in a scan of Japanese
// mail. One converter per common charset, open for the whole run, keeps those
// modules loaded.
void KeepConvertersLoaded() {
  static constexpr const char* kCharsets[] = {"SHIFT_JIS",   "CP932",      "EUC-JP",
                                              "ISO-2022-JP", "ISO-8859-1", "WINDOWS-1252"};
  static std::array<iconv_t, std::size(kCharsets)> kept;
  for (std::size_t i = 0; i < kept.size(); ++i) kept[i] = ::iconv_open("UTF-8", kCharsets[i]);
}

// Malformed mail is normal mail: the parser's complaints change nothing.
void IgnoreWarning(gint64, GMimeParserWarning, const gchar*, gpointer) {}

}  // namespace

void InitGMimeOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_mime_init();
    KeepConvertersLoaded();
  });
}

ParserOptionsPtr LenientOptions() {
  static const char* kFallbackCharsets[] = {"UTF-8", "CP932", "EUC-JP", "ISO-8859-1", nullptr};
  ParserOptionsPtr options(g_mime_parser_options_new());
  g_mime_parser_options_set_fallback_charsets(options.get(), kFallbackCharsets);
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_warning_callback(options.get(), IgnoreWarning, nullptr);
  return options;
}

}  // namespace qm
