// The rules of the Configuration pages that need no window: the choice lists, the processor
// text rebuilt for the machine's processor count, the memory size text, and the video-memory
// type of the adapters known to carry WRAM.
#pragma once

#include <cstdint>
#include <string>

// The choice lists; the index is the stored value.
inline constexpr const char* kCacheTypes[] = {"Asynchronous",   "Pipeline-Burst (3-1-1-1)", "Sync-Burst (2-1-1-1)",
                                              "Inline",         "Integrated DIE",           "Integrated DIE + L3"};
inline constexpr const char* kMemoryTypes[] = {"FPM (typical/normal ram)", "EDO Ram", "Synchronous DRAM",
                                               "Burst EDO Ram"};
inline constexpr const char* kVideoRamTypes[] = {"EDO DRAM", "DRAM",  "VRAM", "WRAM", "EDO VRAM",
                                                 "RAMBUS",   "SDRAM", "3DRAM", "FRAM", "SGRAM"};
inline constexpr const char* kDiskTypes[] = {"IDE (Mode 2)",
                                             "EIDE/ATA-1 (Mode 3)",
                                             "EIDE/ATA-2 (Mode 4)",
                                             "Fast SCSI II",
                                             "Fast/Wide SCSI II or SCSI III",
                                             "Ultra SCSI (Fast/Wide SCSI III)",
                                             "None Specified"};
// The disk type of a disk without a stored one.
inline constexpr int kNoDiskType = 6;

// The processor text for a machine with `count` processors. A text that begins with a decimal
// number is taken as that count followed by blank-separated words; when the count differs it
// is rebuilt as `count` and the words, one blank between them, with the last word made singular
// (a final "s" dropped) on a one-processor machine, or plural (an "s" added) when the old count
// was 1 and the machine has more. Any other text, or the same count, comes back unchanged. The
// result is cut to `width` characters (the stored field's width less its terminator).
std::string RebuildProcessorCount(const std::string& theproc, int count, size_t width = 119);

// The memory size text from the physical memory in bytes: floor(MB) + 1 when `floor_plus_one`
// (the rule of the system release that reports a little less than the memory fitted), else the
// nearest whole number of MB (1 MB = 1,048,576 bytes).
std::string MemorySizeText(uint64_t bytes, bool floor_plus_one);

// The video-memory type for the adapter: "WRAM" (3) for the adapters known to carry it when no
// type is chosen (0); otherwise ramvalue.
int VideoRamTypeFor(const std::string& videoadapter, int ramvalue);

// The physical memory of the machine in bytes (MemTotal of the proc tree's meminfo, else the
// system's figure); 0 when neither can be read.
uint64_t TotalPhysicalMemory();

// The operating-system text for an empty field: "Linux <release> <distribution name>".
std::string DefaultOsText(const std::string& osver, const std::string& servicepack);
