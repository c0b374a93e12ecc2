#include "install/bmf_association.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/process.h"
#include "shared/places.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultSection = "[Default Applications]";

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

bool IsSection(const std::string& line) { return !line.empty() && line[0] == '['; }

// The range [begin, end) of the section's lines after its header; begin = 0 when it is missing.
void FindSection(const std::vector<std::string>& lines, size_t* header, size_t* end) {
    *header = lines.size();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == kDefaultSection) {
            *header = i;
            break;
        }
    *end = *header;
    if (*header == lines.size()) return;
    for (*end = *header + 1; *end < lines.size() && !IsSection(lines[*end]); ++*end) {}
}

std::vector<std::string> SplitList(const std::string& value) {
    std::vector<std::string> out;
    std::stringstream s(value);
    for (std::string item; std::getline(s, item, ';');)
        if (!item.empty()) out.push_back(item);
    return out;
}

std::string FindOnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

}  // namespace

std::string BmfMimePackageFile() { return DataHome() + "/mime/packages/kestrel-bmf.xml"; }
std::string MimeAppsFile() { return ConfigHome() + "/mimeapps.list"; }

bool WriteBmfMimePackage() {
    return WriteText(BmfMimePackageFile(),
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                     "  <mime-type type=\"application/x-kestrel-bmf\">\n"
                     "    <comment>Kestrel benchmark file</comment>\n"
                     "    <sub-class-of type=\"text/plain\"/>\n"
                     "    <glob pattern=\"*.bmf\"/>\n"
                     "  </mime-type>\n"
                     "</mime-info>\n");
}

bool RemoveBmfMimePackage() {
    std::error_code ec;
    return fs::remove(BmfMimePackageFile(), ec);
}

bool SetDefaultApplication(const std::string& mimeType, const std::string& desktopId) {
    std::vector<std::string> lines = ReadLines(MimeAppsFile());
    const std::string entry = mimeType + "=" + desktopId;
    size_t header = 0, end = 0;
    FindSection(lines, &header, &end);
    if (header == lines.size()) {
        if (!lines.empty() && !lines.back().empty()) lines.push_back("");
        lines.push_back(kDefaultSection);
        lines.push_back(entry);
        return WriteText(MimeAppsFile(), JoinLines(lines));
    }
    for (size_t i = header + 1; i < end; ++i)
        if (lines[i].rfind(mimeType + "=", 0) == 0) {
            lines[i] = entry;
            return WriteText(MimeAppsFile(), JoinLines(lines));
        }
    // After the section's last entry, before the blank lines that end it.
    size_t at = end;
    while (at > header + 1 && lines[at - 1].empty()) --at;
    lines.insert(lines.begin() + long(at), entry);
    return WriteText(MimeAppsFile(), JoinLines(lines));
}

bool RemoveDefaultApplication(const std::string& mimeType, const std::string& desktopId) {
    std::vector<std::string> lines = ReadLines(MimeAppsFile());
    size_t header = 0, end = 0;
    FindSection(lines, &header, &end);
    if (header == lines.size()) return false;
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].rfind(mimeType + "=", 0) != 0) continue;
        std::vector<std::string> ids = SplitList(lines[i].substr(mimeType.size() + 1));
        const auto it = std::find(ids.begin(), ids.end(), desktopId);
        if (it == ids.end()) return false;
        ids.erase(it);
        if (ids.empty()) {
            lines.erase(lines.begin() + long(i));
            --end;
        } else {
            std::string value;
            for (const std::string& id : ids) value += id + ";";
            lines[i] = mimeType + "=" + value;
        }
        // A section left empty goes, with the blank line that set it apart.
        bool empty = true;
        for (size_t j = header + 1; j < end; ++j) empty = empty && lines[j].empty();
        if (empty) {
            lines.erase(lines.begin() + long(header), lines.begin() + long(end));
            if (header > 0 && header == lines.size() && lines[header - 1].empty()) lines.pop_back();
        }
        return WriteText(MimeAppsFile(), JoinLines(lines));
    }
    return false;
}

bool RunToolIfPresent(const std::string& tool, const std::string& argument) {
    const std::string path = FindOnPath(tool);
    if (path.empty()) return false;
    auto child = kp::ChildProcess::Spawn(path, {tool, argument});
    if (!child) return false;
    // The caches are small; a tool that hangs is ended rather than holding the installation.
    if (!child->WaitFor(60000)) return false;
    return child->exit_code() == 0;
}

void UpdateMimeDatabase() { RunToolIfPresent("update-mime-database", DataHome() + "/mime"); }
void UpdateDesktopDatabase() { RunToolIfPresent("update-desktop-database", DataHome() + "/applications"); }
