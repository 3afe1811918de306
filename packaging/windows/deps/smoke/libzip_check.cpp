// libzip as pkg-config finds it: an archive made in memory with one WinZip
// AES-256 entry (encrypted through Windows' BCrypt, the only cryptography
// the prefix's libzip has), read back with its password, refused with another.
#include "checks.h"

#include <zip.h>

#include <cstdio>
#include <string>

namespace {

// The bytes of a buffer source, read from its start.
std::string sourceBytes(zip_source_t *source)
{
    std::string bytes;
    if (zip_source_open(source) < 0)
        return bytes;
    char chunk[4096];
    zip_int64_t n;
    while ((n = zip_source_read(source, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, static_cast<size_t>(n));
    zip_source_close(source);
    return bytes;
}

// A ZIP archive holding `text` as secret.txt, AES-256 with `password`;
// empty on failure.
std::string makeAesArchive(const std::string &text, const char *password)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t *archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
    zip_error_fini(&error);
    if (!archive) {
        zip_source_free(buffer);
        return {};
    }
    zip_source_keep(buffer);  // outlives zip_close, which writes into it
    zip_source_t *entry = zip_source_buffer(archive, text.data(), text.size(), 0);
    const zip_int64_t index = entry ? zip_file_add(archive, "secret.txt", entry, 0) : -1;
    if (entry && index < 0)
        zip_source_free(entry);
    const bool added = index >= 0 &&
                       zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index),
                                               ZIP_EM_AES_256, password) == 0;
    std::string bytes;
    if (added && zip_close(archive) == 0)
        bytes = sourceBytes(buffer);
    else
        zip_discard(archive);
    zip_source_free(buffer);
    return bytes;
}

// The text of the archive's first entry with `password`; "(refused)" when
// libzip refuses the password or the data.
std::string readFirstEntry(const std::string &bytes, const char *password)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t *archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!archive) {
        zip_source_free(source);
        return "(not opened)";
    }
    std::string text = "(refused)";
    if (zip_file_t *file = zip_fopen_index_encrypted(archive, 0, 0, password)) {
        std::string read;
        char chunk[4096];
        zip_int64_t n;
        // The entry is a short text this check made; more than this is wrong.
        const size_t limit = 64 * 1024;
        while ((n = zip_fread(file, chunk, sizeof chunk)) > 0 && read.size() <= limit)
            read.append(chunk, static_cast<size_t>(n));
        if (zip_fclose(file) == 0 && n == 0 && read.size() <= limit)
            text = read;
    }
    zip_discard(archive);
    return text;
}

}  // namespace

bool checkLibzip()
{
    const std::string text = "請求書のパスワードは別のメールで";
    const std::string bytes = makeAesArchive(text, "right horse");
    const bool aes = zip_encryption_method_supported(ZIP_EM_AES_256, 1) == 1;
    const bool back = !bytes.empty() && readFirstEntry(bytes, "right horse") == text;
    const bool refused = !bytes.empty() && readFirstEntry(bytes, "wrong horse") == "(refused)";
    std::string detail = std::string("version ") + zip_libzip_version() + ", AES-256 archive of " +
                         std::to_string(bytes.size()) + " bytes, " +
                         (back ? "read back" : "NOT read back") + ", wrong password " +
                         (refused ? "refused" : "NOT refused");
    return report(aes && back && refused && std::string(zip_libzip_version()) == "1.7.3",
                  "libzip", detail.c_str());
}
