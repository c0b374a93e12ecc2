// The desktop's side of the .bmf association: a shared-mime-info package for the benchmark
// file type, and the default application for it in the user's mimeapps.list (edited line by
// line, every other line kept). The desktop's caches are refreshed by update-mime-database and
// update-desktop-database when they are installed; a machine without them is no error.
#pragma once

#include <string>

inline constexpr const char* kBmfMimeType = "application/x-kestrel-bmf";

std::string BmfMimePackageFile();  // <data home>/mime/packages/kestrel-bmf.xml
std::string MimeAppsFile();        // <config home>/mimeapps.list

bool WriteBmfMimePackage();
bool RemoveBmfMimePackage();

// Makes desktopId the default application of mimeType ([Default Applications]).
bool SetDefaultApplication(const std::string& mimeType, const std::string& desktopId);
// Takes desktopId out of mimeType's default line (the line goes when nothing else is left on it,
// the section when it is left empty).
bool RemoveDefaultApplication(const std::string& mimeType, const std::string& desktopId);

// Runs a tool found on PATH with its arguments and waits for it; false when there is none or
// it fails.
bool RunToolIfPresent(const std::string& tool, const std::string& argument);
void UpdateMimeDatabase();     // update-mime-database <data home>/mime
void UpdateDesktopDatabase();  // update-desktop-database <data home>/applications
