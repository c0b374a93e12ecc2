// The values of the settings store as the registry holds them: name, kind, width of a text,
// the reader's code when missing, and the writer's message. The store reads and writes through
// these tables; the installers use the same tables to carry an older version's values over and
// to remove this version's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "kestrel/engine/run/settings.h"

namespace settings_values {

using P = Preferences;
using M = MachineDescription;

// The numbered values: one per drive (26), counter (6) and logical disk (26).
inline constexpr const char* kDriveValue = "Drive %d selected";
inline constexpr const char* kCounterValue = "Counter %d";
inline constexpr const char* kLogicalDiskValue = "Logical Disk %d";
inline constexpr const char* kAdapterValue = "Adapter %d";
inline constexpr const char* kLogDiskTypeValue = "LogDiskType %d";
inline constexpr int kDriveValues = 26;
inline constexpr int kCounterValues = 6;
inline constexpr size_t kDiskTextWidth = 120;

// ---- preferences (per-user key) ------------------------------------------------------------------

// One value of the main key: a text, a number, or a side of the main window rectangle.
struct PrefValue {
    const char* name;
    std::string P::*text = nullptr;
    int32_t P::*number = nullptr;
    int32_t WindowRect::*side = nullptr;
    size_t width = 0;  // of a text field
    int code = 0;      // the reader's result when the value is missing
    const char* message = nullptr;
};

inline constexpr PrefValue Text(const char* name, std::string P::*field, size_t width, int code,
                         const char* message) {
    return {name, field, nullptr, nullptr, width, code, message};
}
inline constexpr PrefValue Number(const char* name, int32_t P::*field, int code, const char* message) {
    return {name, nullptr, field, nullptr, 0, code, message};
}
inline constexpr PrefValue Side(const char* name, int32_t WindowRect::*field, const char* message) {
    return {name, nullptr, nullptr, field, 0, 0, message};
}

// In the order of writing; the drive and counter values follow, then kPrefTail.
inline constexpr PrefValue kPrefValues[] = {
    Text("SMTP server", &P::SMTPHost, 512, 2, "Error in creating SMTP server value in the registry"),
    Text("Sender", &P::Sender, 512, 3, "Error in setting sender address value in the registry"),
    Text("Your Name", &P::yourname, 512, 0, "Error in setting name value in the registry"),
    Text("Kestrel directory", &P::kestrel_directory, 512, 7,
         "Error in creating Kestrel directory value in the registry"),
    Text("Signiature File", &P::endmailfile, 256, 6,
         "Error in setting the signiature file value in the registry"),
    Text("Kes Files Directory", &P::files_directory, 512, 7,
         "Error in setting the Kes files directory value in the registry"),
    Number("LongTestValue", &P::valuelongtest, 5, "Error in setting test length value in the registry"),
    Number("Zbuffer", &P::zbuffer_16bit, 0, "Error in setting Zbuffer value in the registry"),
    Number("ResultsType", &P::graphvalue, 4, "Error in setting graph value in the registry"),
    Text("Last User", &P::lastselection, 65000, 0, "Error in setting Last User value in the registry"),
    Number("Button Type", &P::buttonvalue, 0, "Error in setting the Button Type value in the registry"),
    Number("Laptop Setting", &P::laptop_settings_on, 0,
           "Error in setting the Laptop Settings value in the registry"),
    Number("Timer Precision", &P::use_high_precision, 0,
           "Error in setting the Timer Precision value in the registry"),
    Number("Niceness Level", &P::niceness, 0, "Error in setting the Niceness Level value in the registry"),
    Number("Show Perf Graphs", &P::show_graphs, 0,
           "Error in setting the Show Perf Graphs value in the registry"),
    Side("Main Window Rect Left", &WindowRect::left,
         "Error in setting the Main Window Rect Left value in the registry"),
    Side("Main Window Rect Right", &WindowRect::right,
         "Error in setting the Main Window Rect Right value in the registry"),
    Side("Main Window Rect Top", &WindowRect::top,
         "Error in setting the Main Window Rect Top value in the registry"),
    Side("Main Window Rect Bottom", &WindowRect::bottom,
         "Error in setting the Main Window Rect Bottom value in the registry"),
    Number("Default Blocksize", &P::blocksizenumber, 0,
           "Error in setting the Default Blocksize value in the registry"),
    Number("Default Filesize", &P::filesizenumber, 0,
           "Error in setting the Default Filesize value in the registry"),
    Number("Default Disk Benchmark Directory", &P::defdirnumber, 0,
           "Error in setting the Default Disk Benchmark Directory value in the registry"),
};

// The reader takes the first ten in this order (the mail values first), then the rest as written.
inline constexpr const char* kReadFirst[] = {"Last User", "SMTP server", "Sender", "Your Name",
                                  "Kestrel directory", "Kes Files Directory", "ResultsType",
                                  "Zbuffer", "LongTestValue", "Signiature File"};
inline constexpr size_t kFirstCount = std::size(kReadFirst);

inline constexpr PrefValue kPrefTail[] = {
    Number("Memory Load", &P::memory_load_value, 0, "Error in setting Memory Load value in the registry"),
    Number("Run Glance", &P::runglance, 0, "Error in setting Glance value in the registry"),
    Number("Show Performance Data", &P::show_perf_data, 0,
           "Error in setting performance values in the registry"),
    Number("Stepwise Scaling Efficiency", &P::stepwise_scaling, 0,
           "Error in Stepwise Scaling Efficiency values in the registry"),
};

// ---- machine description (machine key) -----------------------------------------------------------

struct MachineValue {
    const char* name;
    std::string M::*text;
    int32_t M::*number;
    size_t width;
    int code;
    const char* message;
    bool needed;  // the reader's result names it when it is missing
};

inline constexpr MachineValue MText(const char* name, std::string M::*field, size_t width, int code,
                             const char* message) {
    return {name, field, nullptr, width, code, message, true};
}
inline constexpr MachineValue MNumber(const char* name, int32_t M::*field, int code, const char* message,
                               bool needed) {
    return {name, nullptr, field, 0, code, message, needed};
}

// In the order of writing.
inline constexpr MachineValue kMachineValues[] = {
    MText("Manufacturer", &M::manufacturer, 100, 2, "Error in creating Manufacturer value in the registry"),
    MText("Make", &M::make, 100, 3, "Error in setting Make value in the registry"),
    MText("OS Info", &M::os, 150, 13, "Error in setting OS value in the registry"),
    MText("Processor Speed", &M::speed, 50, 5, "Error in setting the Processor Speed value in the registry"),
    MText("Memory Size", &M::memory, 50, 6, "Error in setting the Memory Size value in the registry"),
    MNumber("Memory Type", &M::memoryvalue, 7, "Error in setting the Memory Type value in the registry",
            false),
    MNumber("Cache Type", &M::cachevalue, 8, "Error in setting the Cache Type value in the registry",
            false),
    MText("CPU Cache Size", &M::cachesize, 50, 14, "Error in setting Cache Size value in the registry"),
    MText("Processor", &M::theproc, 120, 17, "Error in setting Processor value in the registry"),
    MText("Video Adapter", &M::videoadapter, 100, 4, "Error in setting Video Adapter value in the registry"),
    MNumber("Video Ram Type", &M::ramvalue, 9, "Error in setting the Video Ram type value in the registry",
            true),
    MText("Video Ram", &M::videoram, 50, 12, "Error in setting Video Ram value in the registry"),
};

// The reader takes the video group as Video Ram, Video Adapter, Video Ram Type.
inline constexpr int kMachineReadOrder[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 9, 10};

}  // namespace settings_values
