#include "mime/PartFields.h"

#include <memory>
#include <optional>
#include <utility>

#include "text/HeaderText.h"

namespace qm {
namespace {

GMimeHeader* FirstHeader(GMimeObject* object, const char* name) {
  GMimeHeaderList* list = g_mime_object_get_header_list(object);
  return list != nullptr ? g_mime_header_list_get_header(list, name) : nullptr;
}

}  // namespace

std::string RawHeader(GMimeObject* object, const char* name) {
  GMimeHeader* header = FirstHeader(object, name);
  const char* raw = header != nullptr ? g_mime_header_get_raw_value(header) : nullptr;
  return raw != nullptr ? raw : "";
}

std::string DeclaredName(GMimeObject* object) {
  for (const auto& [header, parameter] :
       {std::pair{"Content-Disposition", "filename"}, std::pair{"Content-Type", "name"}}) {
    const std::string raw = RawHeader(object, header);
    if (raw.empty()) continue;
    std::optional<std::string> name = DecodeParameter(raw, parameter);
    if (name && !name->empty()) return *name;
  }
  return {};
}

bool IsType(GMimeObject* object, const char* type, const char* subtype) {
  GMimeContentType* content_type = g_mime_object_get_content_type(object);
  return content_type != nullptr && g_mime_content_type_is_type(content_type, type, subtype);
}

bool DispositionIsAttachment(GMimeObject* object) {
  const char* disposition = g_mime_object_get_disposition(object);
  return disposition != nullptr && g_ascii_strcasecmp(disposition, "attachment") == 0;
}

namespace {

struct DateTimeUnref {
  void operator()(GDateTime* date) const { g_date_time_unref(date); }
};

}  // namespace

std::optional<std::chrono::system_clock::time_point> DateOf(const std::string& raw) {
  if (raw.empty()) return std::nullopt;
  const std::unique_ptr<GDateTime, DateTimeUnref> date(
      g_mime_utils_header_decode_date(raw.c_str()));
  if (!date) return std::nullopt;
  return std::chrono::system_clock::time_point(
      std::chrono::seconds(g_date_time_to_unix(date.get())));
}

}  // namespace qm
