// zlib as CMake finds it (a round trip through compress/uncompress) and the
// nlohmann-json headers (a token answer parsed).
#include "checks.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <string>
#include <vector>

bool checkZlibJson()
{
    const std::string text(2000, 'q');
    std::vector<Bytef> packed(compressBound(text.size()));
    uLongf packedSize = packed.size();
    std::string back(text.size(), '\0');
    uLongf backSize = back.size();
    bool zok = compress(packed.data(), &packedSize, reinterpret_cast<const Bytef *>(text.data()),
                        text.size()) == Z_OK &&
               uncompress(reinterpret_cast<Bytef *>(back.data()), &backSize, packed.data(),
                          packedSize) == Z_OK &&
               back == text;
    std::string detail = std::string("version ") + zlibVersion() + ", " +
                         std::to_string(text.size()) + " bytes to " + std::to_string(packedSize) +
                         (zok ? " and back" : ", round trip failed");
    bool ok = report(zok && std::string(zlibVersion()) == "1.2.13", "zlib", detail.c_str());

    auto token = nlohmann::json::parse(R"({"access_token":"a.b","expires_in":3599,"token_type":"Bearer"})",
                                       nullptr, false);
    bool jok = !token.is_discarded() && token.value("expires_in", 0) == 3599 &&
               token.value("token_type", std::string()) == "Bearer";
    std::string jdetail = "version " + std::to_string(NLOHMANN_JSON_VERSION_MAJOR) + "." +
                          std::to_string(NLOHMANN_JSON_VERSION_MINOR) + "." +
                          std::to_string(NLOHMANN_JSON_VERSION_PATCH) + ", token answer " +
                          (jok ? "parsed" : "not parsed");
    return report(jok, "json", jdetail.c_str()) && ok;
}
