// libcurl: 7.88.1 on Schannel with SSPI, zlib and Windows' IDN, speaking
// IMAPS and HTTPS and none of the protocols left out.
#include "checks.h"

#include <curl/curl.h>

#include <set>
#include <string>

bool checkCurl()
{
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return report(false, "curl", "curl_global_init failed");
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    std::string ssl = info->ssl_version ? info->ssl_version : "(none)";
    std::set<std::string> protocols;
    for (const char *const *p = info->protocols; *p; ++p)
        protocols.insert(*p);
    bool features = (info->features & CURL_VERSION_SSPI) && (info->features & CURL_VERSION_LIBZ) &&
                    (info->features & CURL_VERSION_IDN);
    std::string detail = std::string("version ") + info->version + ", TLS " + ssl +
                         ", SSPI/zlib/IDN " + (features ? "yes" : "no") + ", protocols:";
    for (const auto &p : protocols)
        detail += " " + p;
    bool ok = std::string(info->version) == "7.88.1" && ssl.find("Schannel") != std::string::npos &&
              features && protocols.count("imaps") && protocols.count("https") &&
              !protocols.count("ftp") && !protocols.count("ldap");
    curl_global_cleanup();
    return report(ok, "curl", detail.c_str());
}
