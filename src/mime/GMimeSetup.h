#pragma once
// GMime made ready for mail as it really is: initialised once per process,
// and the parser options every parse of a message uses.

#include <gmime/gmime.h>

#include <memory>

namespace qm {

struct ParserOptionsFree {
  void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};

using ParserOptionsPtr = std::unique_ptr<GMimeParserOptions, ParserOptionsFree>;

// Initialises GMime, once however many threads call it.
void InitGMimeOnce();

// Options that read malformed mail as well as it can be read: loose RFC 2047
// and parameter rules, Japanese fallback charsets, and no warnings.
ParserOptionsPtr LenientOptions();

}  // namespace qm
