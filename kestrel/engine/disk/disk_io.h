// The measured work of the disk test: creating the temporary test file on the drive under test
// in a cache mode, timed passes of block writes and reads over it, and closing and deleting it.
// Everything runs on the user-interface thread; nothing here pumps input.
#pragma once

#include "kestrel/engine/processor/pass_clock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline constexpr int kDiskBuffers = 100;     // overlapped buffers per direction
inline constexpr int kMaxBlockSize = 16384;  // the largest block size
inline constexpr char fillchar = 'd';        // the byte every data buffer is filled with

// The disk test's state, shared by the passes and the driver.
struct DiskTestState {
    // The one buffer of all synchronous requests; page-aligned for direct transfers.
    alignas(4096) char buf[kMaxBlockSize] = {};
    // Overlapped passes: request i writes buf2[i mod 100] and reads into buf3[i mod 100].
    char* buf2[kDiskBuffers] = {};
    char* buf3[kDiskBuffers] = {};
    std::string thedrive;           // the drive under test: its mount point with a trailing "/"
    int blocksize = 4096;           // bytes per request
    int filesize = 0;               // requests (blocks) per pass
    int filehandle = -1;            // the open test file
    std::string filename_disktest;  // its path (empty once it is deleted)
    long count = 0;                 // number in the next test file's name; never reset
    long clust_size = 0;            // allocation unit of the drive in bytes
    int flag = 1;                   // 0 after a failed request; a pass stops early then
    int filerror = 0;               // 0 or the code of the last failure (see below)
    IterationTimer timer;  // the timer state of the passes
};
// filerror: 1 no home directory; 2 the file could not be created; 3 a write-and-read pass failed;
// 5 an uncached direct pass failed; 7 a generated-offset pass failed; 9 an uncached sequential
// pass failed; 12 the drive's space could not be read.

extern DiskTestState disk;

// Size and free space of a drive in bytes (free: what this user may write), and its allocation
// unit.
struct DiskSpace {
    int64_t total = 0;
    int64_t free = 0;
    int64_t cluster = 0;
};
using DiskSpaceReader = bool (*)(const std::string& root, DiskSpace* space);
// Tests replace the reader of a drive's space (nullptr restores the real one); returns the old one.
DiskSpaceReader SetDiskSpaceReader(DiskSpaceReader reader);

// Whether this user may create files in a folder. Tests replace it (an empty function restores
// the real check); returns the old one.
using WritableCheck = std::function<bool(const std::string& dir)>;
WritableCheck SetWritableCheck(WritableCheck check);

// The folder of the test file on the drive at root under the directory preference 0 ("root"):
// the mount point when this user may create files there; otherwise the home directory ($HOME)
// when it lies on the drive's file system; otherwise the temporary directory ($TMPDIR, else
// /tmp) when it does. Ends with "/"; empty when none fits (the test file then cannot be opened).
std::string DriveRootDirectory(const std::string& root);

// Total and free bytes of the drive at root: 1, or 0 (both 0) when they cannot be read.
int GetDiskData(int64_t* total, int64_t* free, const std::string& root);

// Creates the test file for a series of passes: 0 ready, 1 failed (after its box). Mode 0
// asynchronous cached, 1 synchronous cached, 2 asynchronous write-through; pattern 0
// direct/patterned, 1 sequential.
int diskio0(int mode, int pattern);
// The same for uncached passes (direct transfers).
int diskionocache(int pattern);

// Timed passes; each returns its time in ms, or -1.0 when it could not be timed (or could not
// get its memory).
double diskio1(int mode, int pattern);  // write-and-read in order
double diskio3(int mode, int pattern);  // at generated offsets (pattern 1: as diskio1)
double diskio2();                       // uncached, direct
double diskio4();                       // uncached, sequential

// Closes and deletes the test file.
void endtest();

// The 100 + 100 overlapped buffers of blocksize bytes, filled with fillchar: 0, or -1 when
// memory ran out (nothing is kept then).
int AllocateDiskBuffers();
void FreeDiskBuffers();

// The offsets of the generated-offset pass, entry i for request i.
std::vector<uint32_t> GeneratedOffsets(int filesize, int blocksize);
