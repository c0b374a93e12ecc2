// The Configuration pages: the description of the machine under test (computer, processor and
// memory, video, and the disks), shown in the tab frame and stored by the settings store.
#pragma once

#include <QWidget>
#include <vector>

class TabFrame;

// The four pages in tab order: "CONFIG1" Computer, "CONFIG2" CPU/Memory, "CONFIG3" Video,
// "CONFIG4" Disk.
std::vector<QWidget*> MakeConfigurationPages(TabFrame& frame);
