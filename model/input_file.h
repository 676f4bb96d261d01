// Opening a data or distance file for reading, plain or gzip-compressed (bgzip
// writes gzip too): the compression is told by the first two bytes, not by the
// name, and a compressed file reads as its text.
#pragma once

#include <cstdio>
#include <string>

namespace orvane {

// The file as a stream of its text; InputError naming the file and `what`
// ("data file", "distance file") when it cannot be opened. A read of damaged
// compressed data fails with errno set to EBADMSG.
std::FILE* openInputFile(const std::string& path, const char* what);

// True when the bytes begin like gzip data (and so bgzip data).
bool startsLikeGzip(const unsigned char* bytes, size_t size);

}  // namespace orvane
