// GMime with GLib and the iconv DLL: its version, a subject in ISO-2022-JP
// (through iconv) and an RFC 2231 file name decoded to UTF-8.
#include "checks.h"

#include <gmime/gmime.h>

#include <string>

namespace {
const char kMessage[] =
    "From: a@example.com\r\n"
    "To: b@example.com\r\n"
    "Subject: =?ISO-2022-JP?B?GyRCQEE1YT1xJE4kNEF3SVUbKEI=?=\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "\r\n"
    "body\r\n"
    "--b\r\n"
    "Content-Type: application/pdf\r\n"
    "Content-Disposition: attachment;\r\n"
    " filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8%E2%91%A0.pdf\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "JVBERi0xLjQK\r\n"
    "--b--\r\n";
}

bool checkGmime()
{
    g_mime_init();
    std::string version = std::to_string(gmime_major_version) + "." +
                          std::to_string(gmime_minor_version) + "." +
                          std::to_string(gmime_micro_version);
    bool ok = report(version == "3.2.13", "gmime", ("version " + version).c_str());

    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(kMessage, sizeof kMessage - 1);
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (!message)
        return report(false, "gmime", "the message did not parse");

    const char *subject = g_mime_message_get_subject(message);
    std::string s = subject ? subject : "(none)";
    ok &= report(s == "請求書のご送付", "gmime", ("ISO-2022-JP subject: " + s).c_str());

    std::string name = "(none)";
    GMimeObject *body = g_mime_message_get_mime_part(message);
    if (GMIME_IS_MULTIPART(body) && g_mime_multipart_get_count(GMIME_MULTIPART(body)) == 2) {
        GMimeObject *part = g_mime_multipart_get_part(GMIME_MULTIPART(body), 1);
        if (GMIME_IS_PART(part) && g_mime_part_get_filename(GMIME_PART(part)))
            name = g_mime_part_get_filename(GMIME_PART(part));
    }
    ok &= report(name == "見積書①.pdf", "gmime", ("RFC 2231 file name: " + name).c_str());
    g_object_unref(message);
    return ok;
}
