// The whole text of an open file in one buffer of the file's size, as the viewer's documents, the
// mail attachments and the signature file are read. A file too large to be held is told apart
// from one that cannot be read, and the program goes on either way.
#pragma once

#include <string>

enum class FileText { Ok, ReadFailed, NoMemory };

// Reads the file from its current offset up to the size it has when the read starts (what is
// added meanwhile is not taken). NoMemory: its buffer could not be had; `text` is then empty.
FileText ReadFileText(int fd, std::string* text);
