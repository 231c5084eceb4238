// Whether a staged update is a whole jar: a complete zip archive, judged
// from its end record and central directory, without unpacking anything;
// and a jar's manifest, the one entry the launcher unpacks (inflate.h).
#pragma once

#include <string>

// Reads up to len bytes at offset into out: the count read (fewer at the
// end of the source), or -1 on an error.
typedef long (*ReadAtFunction)(void* source, unsigned long long offset, unsigned char* out, unsigned long len);

// Why the source of size bytes is not a complete zip archive with at least
// one entry; empty when it is one.
std::string zipArchiveFault(unsigned long long size, ReadAtFunction readAt, void* source);

// The same for a file; a file that cannot be opened or read is not one.
std::string zipFileFault(const std::string& path);

// The text of the jar's META-INF/MANIFEST.MF, stored or deflated; empty
// when the jar cannot be read or has none.
std::string jarManifest(const std::string& path);
