#include "install/registration.h"

#include <vector>

#include "install/bmf_association.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/program_icons.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/places.h"

using kp::reg::Key;
using kp::reg::Root;

namespace {

struct ValueEntry {
    const char* name;
    std::string data;
    const char* error;  // the box when the value cannot be set
};

// Opens or creates one key and sets its values in order; the code of the first failure.
int WriteKey(Root root, const std::string& path, const char* keyError, const std::vector<ValueEntry>& values) {
    auto key = Key::Create(root, path);
    if (!key) {
        kp::MessageBox(kp::Owner::Active, keyError, "Registry Exception", kp::Icon::Exclamation);
        return kRegistryNoKey;
    }
    for (const ValueEntry& v : values) {
        if (!key->SetString(v.name, v.data)) {
            kp::MessageBox(kp::Owner::Active, v.error, "Registry Exception", kp::Icon::Exclamation);
            return kRegistryNoValue;
        }
    }
    return kRegistryOk;
}

}  // namespace

std::string BmfOpenCommand(const std::string& installDirectory) {
    return "\"" + installDirectory + "/kestrel\" %1";
}

std::string MainProgramDesktopId() { return ItemDesktopId(kProductName, DistributionRow(2)->title); }

int SetRegistryEntries(const SetupState& setup) {
    const char* kestrelKeyError = "Error in creating Kestrel key in the registry";
    const char* rootKeyError = "Error in creating root key in the registry";
    const char* kestrelValueError = "Error in creating kestrel value in the registry";

    std::vector<ValueEntry> user = {
        {"Kestrel directory", setup.installDirectory, "Error in creating Destination value in the registry"},
        {"Your Name", setup.userName, "Error in creating username value in the registry"},
    };
    // Without an address a sender would read " (name)" and stand in for the one the user types.
    if (!setup.emailAddress.empty())
        user.push_back({"Sender", setup.emailAddress + " (" + setup.userName + ")",
                        "Error in creating Sender value in the registry"});

    struct KeyEntry {
        Root root;
        std::string path;
        const char* error;
        std::vector<ValueEntry> values;
    };
    const std::string progId = kBmfProgId;
    const std::vector<KeyEntry> keys = {
        {Root::CurrentUser, kUserKey, kestrelKeyError, user},
        {Root::LocalMachine, kProductMachineKey, kestrelKeyError,
         {{"Version", "1.21", "Error in creating Version value in the registry"}}},
        {Root::LocalMachine, kUninstallKey, kestrelKeyError,
         {{"Kestrel Install Directory", setup.installDirectory,
           "Error in creating Install Directory value in the registry"}}},
        {Root::ClassesRoot, kBmfClass, rootKeyError, {{"", progId, "Error in creating bmf value in the registry"}}},
        {Root::ClassesRoot, progId, rootKeyError, {{"", "kestrel", kestrelValueError}}},
        {Root::ClassesRoot, progId + "\\shell", rootKeyError, {{"", "kestrel", kestrelValueError}}},
        {Root::ClassesRoot, progId + "\\shell\\open", rootKeyError, {{"", "kestrel", kestrelValueError}}},
        {Root::ClassesRoot, progId + "\\shell\\open\\command", rootKeyError,
         {{"", BmfOpenCommand(setup.installDirectory), kestrelValueError}}},
    };
    for (const KeyEntry& k : keys) {
        const int code = WriteKey(k.root, k.path, k.error, k.values);
        if (code != kRegistryOk) return code;
    }

    // The desktop reads the association from its own files.
    WriteBmfMimePackage();
    UpdateMimeDatabase();
    SetDefaultApplication(kBmfMimeType, MainProgramDesktopId());
    return kRegistryOk;
}

void CreateProgramGroup(const SetupState& setup) {
    const std::string group = kProductName;
    const std::string dir = setup.installDirectory;
    const std::string sys = UserBinDirectory();
    const std::string editor = kTextEditor;
    const auto quoted = [](const std::string& s) { return "\"" + s + "\""; };

    // The items name the programs' icons: the user's icon theme holds them.
    InstallProgramIcons();
    ProgmanExecute("[CreateGroup(" + group + ",)]");
    ProgmanExecute("[ShowGroup(" + group + ",1)]");
    for (int row = 10; row >= 2; --row) {
        const DistributionFile* file = DistributionRow(row);
        const std::string title = file->title;
        ProgmanExecute("[ReplaceItem(" + title + ")]");
        const std::string target = file->target;
        switch (row) {
            case 10:  // the uninstaller
                ProgmanExecute("[AddItem(" + quoted(sys + "/" + target) + "," + title + "," +
                               quoted(sys + "/" + target) + ",0,,,,)]");
                break;
            case 9:
            case 7:
            case 4:  // text files, opened by the editor
                ProgmanExecute("[AddItem(" + editor + " " + quoted(dir + "/" + target) + "," + title + "," + editor +
                               ",0,,,,)]");
                break;
            case 6:
            case 3:
            case 2:  // programs, started in the install directory
                ProgmanExecute("[AddItem(" + quoted(dir + "/" + target) + "," + title + ",,0,,," + quoted(dir) +
                               ",)]");
                break;
            default:  // rows 8 and 5: only an item left by an earlier installation goes
                break;
        }
    }
    UpdateDesktopDatabase();
}
