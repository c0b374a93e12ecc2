// The Configuration pages: the description of the machine under test (computer, processor and
// memory, video, and the disks), shown in the tab frame and stored by the settings store.
#pragma once

#include <QWidget>
#include <vector>

class TabFrame;

// The choices of the three type lists while the pages are open (cache type, memory type and
// video-memory type); OK stores them.
struct ConfigChoices {
    int globalcval = 0;
    int globalmemval = 0;
    int globalvidval = 0;
};
extern ConfigChoices config_choices;

// The four pages in tab order: "CONFIG1" Computer, "CONFIG2" CPU/Memory, "CONFIG3" Video,
// "CONFIG4" Disk. Each reloads the stored description as it is made, fills what is empty from
// the machine, and shows its fields in edits named by their identifiers ("10", "17", ...). OK
// ("1") on any page stores the whole description; Cancel ("2") restores the disk types taken at
// opening; Help ("9") opens the page's help topic.
std::vector<QWidget*> MakeConfigurationPages(TabFrame& frame);
