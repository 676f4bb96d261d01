#include "model/input_file.h"

#include <sys/types.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "model/input_error.h"

namespace orvane {

namespace {

// A gzip file read through zlib behind a stdio stream, so that the line
// readers need not know whether their file was compressed.
ssize_t readCompressed(void* cookie, char* buffer, size_t size) {
    const unsigned wanted = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    const gzFile file = static_cast<gzFile>(cookie);
    const int got = gzread(file, buffer, wanted);
    int error = Z_OK;
    // A file cut short ends like a whole one; only gzerror tells them apart.
    if (got == 0) gzerror(file, &error);
    if (got < 0 || error != Z_OK) {
        errno = EBADMSG;
        return -1;
    }
    return got;
}

int closeCompressed(void* cookie) { return gzclose_r(static_cast<gzFile>(cookie)) == Z_OK ? 0 : EOF; }

[[noreturn]] void cannotOpen(const std::string& path, const char* what, int error) {
    throw InputError(path, 0, std::string("cannot open the ") + what + " (" + std::strerror(error) + ")");
}

}  // namespace

bool startsLikeGzip(const unsigned char* bytes, size_t size) {
    return size >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

std::FILE* openInputFile(const std::string& path, const char* what) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) cannotOpen(path, what, errno);
    unsigned char magic[2] = {0, 0};
    const size_t got = std::fread(magic, 1, sizeof magic, file);
    if (!startsLikeGzip(magic, got)) {
        // Plain text (or too short to be compressed): read from its start.
        std::rewind(file);
        return file;
    }
    std::fclose(file);
    gzFile compressed = gzopen(path.c_str(), "rb");
    if (compressed == nullptr) cannotOpen(path, what, errno != 0 ? errno : ENOMEM);
    gzbuffer(compressed, 1u << 17);
    const cookie_io_functions_t functions = {readCompressed, nullptr, nullptr, closeCompressed};
    std::FILE* stream = fopencookie(compressed, "r", functions);
    if (stream == nullptr) {
        gzclose_r(compressed);
        cannotOpen(path, what, errno);
    }
    return stream;
}

}  // namespace orvane
