#pragma once
// What the header fields of one MIME part say, read from the fields as they
// stand: GMime's own decoding of them is not used, the project's decoders
// (text/HeaderText.h) are.

#include <gmime/gmime.h>

#include <chrono>
#include <optional>
#include <string>

namespace qm {

// The first field named `name` exactly as written; empty when there is none.
std::string RawHeader(GMimeObject* object, const char* name);

// The time a Date field's raw value gives (RFC 5322, obsolete forms too, as
// GMime reads it); nothing when it is empty or cannot be read.
std::optional<std::chrono::system_clock::time_point> DateOf(const std::string& raw);

// The file name the part declares, decoded: the Content-Disposition filename,
// else the Content-Type name; empty when it declares none.
std::string DeclaredName(GMimeObject* object);

// Whether the part's Content-Type is `type`/`subtype` ("*" matches any).
bool IsType(GMimeObject* object, const char* type, const char* subtype);

// Whether the part's Content-Disposition is "attachment".
bool DispositionIsAttachment(GMimeObject* object);

}  // namespace qm
