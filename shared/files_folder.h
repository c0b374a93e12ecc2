// The folder that holds the benchmark files of both kestrel and the viewer by default.
#pragma once

// The folder's name; the default result directory is $HOME/Kestrel Files. A chosen directory
// whose path already names it (or its short form "Kestre~1", either case) is taken as it is.
inline constexpr const char* kKestrelFilesFolder = "Kestrel Files";
inline constexpr const char* kKestrelFilesShortName = "Kestre~1";
