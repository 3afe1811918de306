// libytnef: a winmail.dat stream made here (signature, key, then attributes
// each with its level, id, length, data and 16-bit byte sum) with one
// attachment, parsed back to its file name and contents.
#include "checks.h"

// ytnef.h uses FILE and size_t without including their headers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// C headers without their own extern "C".
extern "C" {
#include <ytnef.h>
}

namespace {
void put32(std::vector<BYTE> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

void attribute(std::vector<BYTE> &out, BYTE level, DWORD id, const std::string &data)
{
    out.push_back(level);
    put32(out, id);
    put32(out, static_cast<std::uint32_t>(data.size()));
    unsigned sum = 0;
    for (unsigned char c : data) {
        out.push_back(c);
        sum += c;
    }
    out.push_back(static_cast<BYTE>(sum & 0xff));
    out.push_back(static_cast<BYTE>((sum >> 8) & 0xff));
}
}

bool checkYtnef()
{
    const std::string contents = "%PDF-1.4 smoke";
    std::vector<BYTE> stream;
    put32(stream, 0x223e9f78);  // TNEF signature
    stream.push_back(0x01);     // key
    stream.push_back(0x00);
    attribute(stream, LVL_ATTACHMENT, attAttachRenddata, std::string(14, '\0'));
    attribute(stream, LVL_ATTACHMENT, attAttachTitle, std::string("invoice.pdf", 12));
    attribute(stream, LVL_ATTACHMENT, attAttachData, contents);

    TNEFStruct tnef;
    TNEFInitialize(&tnef);
    int rc = TNEFParseMemory(stream.data(), static_cast<long>(stream.size()), &tnef);
    std::string title = "(none)", data;
    if (rc == 0 && tnef.starting_attach.next) {
        Attachment *a = tnef.starting_attach.next;
        if (a->Title.data)
            title = reinterpret_cast<const char *>(a->Title.data);
        data.assign(reinterpret_cast<const char *>(a->FileData.data), a->FileData.size);
    }
    TNEFFree(&tnef);
    std::string detail = "parse " + std::to_string(rc) + ", attachment " + title +
                         " (" + std::to_string(data.size()) + " bytes)";
    return report(rc == 0 && title == "invoice.pdf" && data == contents, "ytnef",
                  detail.c_str());
}
