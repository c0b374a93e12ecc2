#include "install/program_icons.h"

#include <filesystem>
#include <utility>

#include "shared/places.h"

namespace {

// The pictures, drawn as the programs draw their window icons: kestrel a white K on a dark blue
// tile, glance a page under a magnifier, unkes a page with a red cross.
const std::pair<const char*, const char*> kIcons[] = {
    {"kestrel",
     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
     "  <rect width=\"32\" height=\"32\" rx=\"6\" fill=\"#14286e\"/>\n"
     "  <path d=\"M9 6h4.5v8.2L20.5 6H26l-7.6 8.6L26.5 26H21l-6-8.4-1.5 1.7V26H9z\" fill=\"#fff\"/>\n"
     "</svg>\n"},
    {"glance",
     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
     "  <path d=\"M4.5 2.5h14l5 5v20.5h-19z\" fill=\"#fff\" stroke=\"#000\"/>\n"
     "  <path d=\"M7 8h9M7 11h12M7 14h6\" stroke=\"#555\"/>\n"
     "  <circle cx=\"20\" cy=\"18\" r=\"6\" fill=\"none\" stroke=\"#000\" stroke-width=\"3\"/>\n"
     "  <path d=\"M24 22l6 7\" stroke=\"#000\" stroke-width=\"3\"/>\n"
     "</svg>\n"},
    {"unkes",
     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
     "  <path d=\"M4.5 2.5h14l5 5v20.5h-19z\" fill=\"#fff\" stroke=\"#000\"/>\n"
     "  <path d=\"M15 15l12 12M27 15L15 27\" stroke=\"#c81e1e\" stroke-width=\"4\"/>\n"
     "</svg>\n"},
};

std::string IconFile(const char* name) { return DataHome() + "/icons/hicolor/scalable/apps/" + name + ".svg"; }

}  // namespace

std::vector<std::string> ProgramIconFiles() {
    std::vector<std::string> files;
    for (const auto& icon : kIcons) files.push_back(IconFile(icon.first));
    return files;
}

bool InstallProgramIcons() {
    bool all = true;
    for (const auto& [name, picture] : kIcons) all = WriteText(IconFile(name), picture) && all;
    return all;
}

void RemoveProgramIcons() {
    std::error_code ec;
    for (const std::string& file : ProgramIconFiles()) std::filesystem::remove(file, ec);
}
