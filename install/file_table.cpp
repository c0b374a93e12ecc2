#include "install/file_table.h"

#include "install/expand_file.h"
#include "shared/places.h"

const std::vector<DistributionFile>& DistributionFiles() {
    static const std::vector<DistributionFile> files = {
        {0, "libkestest.so_", "libkestest.so", TargetPlace::Install, "Kestest DLL", FileKind::Program},
        {1, "libkestrel.so_", "libkestrel.so", TargetPlace::Install, "Kestrel DLL", FileKind::Program},
        {2, "kestrel_", "kestrel", TargetPlace::Install, "Kestrel 1.21", FileKind::Program},
        {3, "kestrel-help.html_", "kestrel-help.html", TargetPlace::Install, "Kestrel Help File", FileKind::Data},
        {4, "kestrel.txt_", "kestrel.txt", TargetPlace::Install, "Kestrel Readme File", FileKind::Data},
        {5, "libkeschk.so_", "libkeschk.so", TargetPlace::Install, "Kestrel Performance DLL", FileKind::Program},
        {6, "glance_", "glance", TargetPlace::Install, "Glance for Kestrel", FileKind::Program},
        {7, "example.sig_", "example.sig", TargetPlace::Install, "Example Signature File", FileKind::Data},
        {8, "loadmeter_", "loadmeter", TargetPlace::Install, "Kestrel Performance File", FileKind::Program},
        {9, "readme.1st_", "readme.1st", TargetPlace::Install, "Readme First", FileKind::Data},
        {10, "unkes_", "unkes", TargetPlace::UserBin, "Uninstall Kestrel", FileKind::Program},
        {11, "userfile.dbf_", "userfile.dbf", TargetPlace::AddressBook, "userfile.dbf", FileKind::Data},
        {13, "lumen_", "lumen", TargetPlace::Install, "lumen.exe", FileKind::Program},
    };
    return files;
}

const DistributionFile* DistributionRow(int row) {
    for (const DistributionFile& f : DistributionFiles())
        if (f.row == row) return &f;
    return nullptr;
}

mode_t InstalledMode(const DistributionFile& file) {
    return file.kind == FileKind::Program ? kProgramFileMode : kDataFileMode;
}

const DistributionFile* RowOfTarget(const std::string& target) {
    for (const DistributionFile& f : DistributionFiles())
        if (target == f.target) return &f;
    return nullptr;
}

std::string TargetDirectory(const DistributionFile& file, const SetupState& setup) {
    switch (file.place) {
        case TargetPlace::UserBin: return UserBinDirectory();
        case TargetPlace::AddressBook: return DefaultInstallDirectory();
        case TargetPlace::Install: break;
    }
    return setup.installDirectory;
}
