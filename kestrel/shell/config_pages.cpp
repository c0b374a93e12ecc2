#include "kestrel/shell/config_pages.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <functional>
#include <iterator>

#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/system_info.h"
#include "kestrel/shell/config_rules.h"
#include "kestrel/shell/tab_frame.h"
#include "shared/ui/help.h"

ConfigChoices config_choices;

namespace {

constexpr int kDisks = 26;

// The pages; Computer and Disk share their opening rules.
enum class Member { Computer, CpuMemory, Video, Disk };

// The help topic of each page.
int HelpContext(Member m) { return 288 + int(m); }

template <size_t N>
QStringList Texts(const char* const (&list)[N]) {
    QStringList texts;
    for (const char* t : list) texts << QString::fromLatin1(t);
    return texts;
}

// Selects the entry of a stored index; an index outside the list leaves none selected. No
// change is reported: only the user's choices are.
void Select(QComboBox* list, int index) {
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

class ConfigPage : public QWidget {
public:
    ConfigPage(Member member, TabFrame& frame);

protected:
    // Enter is OK and Escape is Cancel, as in a dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // An edit that copies every change into its field at once, up to `chars` characters.
    QLineEdit* Edit(int id, int chars, std::function<std::string&()> field);
    QComboBox* List(int id, const QStringList& entries, std::function<void(int)> chosen);
    void AddRow(const char* label, QWidget* field, const char* unit = nullptr);
    void Open();
    void ChooseDisk(int index);
    void Ok();
    void Cancel();

    Member member_;
    TabFrame& frame_;
    QFormLayout* form_;
    QLineEdit* edit_[40] = {};  // by identifier
    QComboBox* cache_ = nullptr;     // 8
    QComboBox* memory_ = nullptr;    // 39
    QComboBox* video_ram_ = nullptr; // 15
    QComboBox* logical_ = nullptr;   // 40
    QComboBox* disk_type_ = nullptr; // 41
    int k_ = 0;                      // the logical disk shown
    std::array<int32_t, kDisks> disk_types_{};  // the disk types at opening, for Cancel
};

ConfigPage::ConfigPage(Member member, TabFrame& frame) : member_(member), frame_(frame) {
    static const char* const names[] = {"CONFIG1", "CONFIG2", "CONFIG3", "CONFIG4"};
    setObjectName(QString::fromLatin1(names[int(member)]));
    auto* column = new QVBoxLayout(this);
    form_ = new QFormLayout;
    column->addLayout(form_);
    column->addStretch(1);

    MachineDescription& m = machine;
    switch (member) {
        case Member::Computer:
            AddRow("Computer Manufacturer:", Edit(10, 99, [&m]() -> std::string& { return m.manufacturer; }));
            AddRow("Computer Make:", Edit(11, 99, [&m]() -> std::string& { return m.make; }));
            AddRow("Operating System:", Edit(20, 149, [&m]() -> std::string& { return m.os; }));
            break;
        case Member::CpuMemory:
            AddRow("Processor:", Edit(17, 119, [&m]() -> std::string& { return m.theproc; }));
            AddRow("CPU Speed:", Edit(18, 49, [&m]() -> std::string& { return m.speed; }), "MHz");
            cache_ = List(8, Texts(kCacheTypes), [](int i) { config_choices.globalcval = i; });
            AddRow("Cache Type:", cache_);
            AddRow("External Cache Size:", Edit(35, 49, [&m]() -> std::string& { return m.cachesize; }), "KBs");
            AddRow("Physical Ram (Memory):", Edit(19, 49, [&m]() -> std::string& { return m.memory; }), "MBs");
            memory_ = List(39, Texts(kMemoryTypes), [](int i) { config_choices.globalmemval = i; });
            AddRow("Physical Memory Type:", memory_);
            break;
        case Member::Video:
            AddRow("Video Adapter:", Edit(12, 99, [&m]() -> std::string& { return m.videoadapter; }));
            AddRow("Video Ram:", Edit(24, 49, [&m]() -> std::string& { return m.videoram; }), "MBs");
            video_ram_ = List(15, Texts(kVideoRamTypes), [](int i) { config_choices.globalvidval = i; });
            AddRow("Video Ram Type:", video_ram_);
            break;
        case Member::Disk:
            logical_ = List(40, {}, [this](int i) { ChooseDisk(i); });
            AddRow("Data for Logical Disk:", logical_);
            disk_type_ = List(41, Texts(kDiskTypes), [this, &m](int i) { m.diskvalue[k_] = i; });
            AddRow("Disk Type:", disk_type_);
            AddRow("Manufacturer/Make:", Edit(21, 100, [this, &m]() -> std::string& { return m.harddisk[k_]; }));
            AddRow("Local Bus Adapter:", Edit(36, 119, [this, &m]() -> std::string& { return m.adapter[k_]; }));
            break;
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    const auto button = [&](int id, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::number(id));
        buttons->addWidget(b);
        return b;
    };
    QPushButton* ok = button(1, "OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { Ok(); });
    connect(button(2, "Cancel"), &QPushButton::clicked, this, [this] { Cancel(); });
    connect(button(9, "Help"), &QPushButton::clicked, this, [this] { ShowHelpContext(HelpContext(member_)); });
    column->addLayout(buttons);

    Open();
}

QLineEdit* ConfigPage::Edit(int id, int chars, std::function<std::string&()> field) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    edit->setMaxLength(chars);
    connect(edit, &QLineEdit::textChanged, this,
            [field, chars](const QString& text) { field() = text.toStdString().substr(0, size_t(chars)); });
    edit_[id] = edit;
    return edit;
}

QComboBox* ConfigPage::List(int id, const QStringList& entries, std::function<void(int)> chosen) {
    auto* list = new QComboBox(this);
    list->setObjectName(QString::number(id));
    list->addItems(entries);
    list->setCurrentIndex(-1);
    connect(list, &QComboBox::currentIndexChanged, this, [chosen](int i) {
        if (i >= 0) chosen(i);
    });
    return list;
}

void ConfigPage::AddRow(const char* label, QWidget* field, const char* unit) {
    if (unit == nullptr) {
        form_->addRow(QString::fromLatin1(label), field);
        return;
    }
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(new QLabel(QString::fromLatin1(unit), this));
    form_->addRow(QString::fromLatin1(label), row);
}

// Every page reloads the stored description as it is made and fills what is empty from the
// machine; the pages are made in tab order, so the fields in force afterwards are those the Disk
// page's opening left.
void ConfigPage::Open() {
    MachineDescription& m = machine;
    std::fill(std::begin(m.diskvalue), std::end(m.diskvalue), kNoDiskType);
    k_ = 0;
    if (logical_ != nullptr) {
        const QSignalBlocker quiet(logical_);
        for (int g = 0; g < std::clamp(globaldrives, 0, kDisks); ++g)
            logical_->addItem(QString::fromStdString(drivemenu.globaldrivechar[g]));
        logical_->setCurrentIndex(logical_->count() > 0 ? 0 : -1);
    }
    GetRegEntry2();

    if (video_ram_ != nullptr) Select(video_ram_, m.ramvalue);
    if (disk_type_ != nullptr) Select(disk_type_, m.diskvalue[0]);
    if (cache_ != nullptr) Select(cache_, m.cachevalue);
    if (memory_ != nullptr) Select(memory_, m.memoryvalue);

    if (m.theproc.empty()) m.theproc = run.processor;
    if (m.speed.empty()) m.speed = ProcessorClockText().substr(0, 49);
    if (member_ != Member::CpuMemory) m.theproc = RebuildProcessorCount(m.theproc, run.real_num_processors);
    if (m.os.empty()) m.os = DefaultOsText(m.osver, m.servicepack).substr(0, 149);
    if (member_ != Member::CpuMemory || m.memory.empty())
        m.memory = MemorySizeText(TotalPhysicalMemory(), NT40RUNNING == 1);
    if (m.harddisk[0].empty()) GetDriveInfo1();
    if (m.harddisk[1].empty()) GetDriveInfo2();
    if (m.videoadapter.empty()) GetVideoInfo();
    const int ram = VideoRamTypeFor(m.videoadapter, m.ramvalue);
    if (ram != m.ramvalue) {
        m.ramvalue = ram;
        if (video_ram_ != nullptr) Select(video_ram_, ram);
    }
    if (member_ == Member::CpuMemory) {
        config_choices.globalcval = m.cachevalue;
        config_choices.globalmemval = m.memoryvalue;
    }
    if (member_ == Member::CpuMemory || member_ == Member::Video) config_choices.globalvidval = m.ramvalue;

    // Showing a text hands it back to its field through the edit.
    const auto show = [this](int id, const std::string& text) {
        if (QLineEdit* e = edit_[id]) e->setText(QString::fromStdString(text));
    };
    show(10, m.manufacturer);
    show(11, m.make);
    show(12, m.videoadapter);
    show(17, m.theproc);
    show(18, m.speed);
    show(19, m.memory);
    show(21, m.harddisk[0]);
    show(24, m.videoram);
    show(20, m.os);
    show(35, m.cachesize);
    show(36, m.adapter[0]);
    std::copy(std::begin(m.diskvalue), std::end(m.diskvalue), disk_types_.begin());
}

void ConfigPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: Ok(); break;
        case Qt::Key_Escape: Cancel(); break;
        default: QWidget::keyPressEvent(event); break;
    }
}

void ConfigPage::ChooseDisk(int index) {
    if (index == k_) return;
    k_ = index;
    Select(disk_type_, machine.diskvalue[k_]);
    edit_[21]->setText(QString::fromStdString(machine.harddisk[k_]));
    edit_[36]->setText(QString::fromStdString(machine.adapter[k_]));
}

void ConfigPage::Ok() {
    machine.cachevalue = config_choices.globalcval;
    machine.memoryvalue = config_choices.globalmemval;
    machine.ramvalue = config_choices.globalvidval;
    CreateRegEntry2();
    frame_.Close();
}

// The disk types go back to those at opening; typed texts stay in memory until the description
// is next reloaded.
void ConfigPage::Cancel() {
    std::copy(disk_types_.begin(), disk_types_.end(), std::begin(machine.diskvalue));
    frame_.Close();
}

}  // namespace

std::vector<QWidget*> MakeConfigurationPages(TabFrame& frame) {
    std::vector<QWidget*> pages;
    for (Member m : {Member::Computer, Member::CpuMemory, Member::Video, Member::Disk})
        pages.push_back(new ConfigPage(m, frame));
    return pages;
}
