// The whole text of an open file in one buffer, as kestrel's loaded reports, the viewer's
// documents, the mail attachments and the signature file are read. A file too large to be held
// is told apart from one that cannot be read, and the program goes on either way.
#pragma once

#include <functional>
#include <string>

enum class FileText { Ok, ReadFailed, NoMemory };

// Reads the file from its current offset to its end. The size the file has when the read starts
// is only where the buffer starts: a file whose size is not known up front (a /proc file, a
// pipe) or one that grows meanwhile is read on to its end, the buffer growing as needed.
// NoMemory: the buffer could not be had or grown; `text` is then empty and its memory released.
// `between_reads`, when given, is called after each read of at most a few megabytes (a long read
// can keep the program's windows painted).
FileText ReadFileText(int fd, std::string* text, const std::function<void()>& between_reads = {});
