#include "imap/ListedHeaders.h"

namespace qm {

RawHeaders ListedHeaders(std::string_view block) {
  RawHeaders headers = ParseHeaderBlock(block);
  headers.subject = KeptFieldValue(headers.subject, kListedFieldLimit);
  headers.from = KeptFieldValue(headers.from, kListedFieldLimit);
  return headers;
}

}  // namespace qm
