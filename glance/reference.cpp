#include "glance/reference.h"

#include <QListWidget>
#include <QVBoxLayout>

#include "glance/frame.h"
#include "shared/reference_data.h"

namespace glance {

const char* const kReferenceTitles[kReferenceRows] = {
    "Machine   Model/Make   (system information)",
    "--------------------------------------------------------------------",
    "Micron P100 PowerStation (baseline system - 512 byte blocksize)",
    "Micron P100 PowerStation (baseline system - 1 KB blocksize)",
    "Micron P100 PowerStation (baseline system - 2 KB blocksize)",
    "Micron P100 PowerStation (baseline system - 4 KB blocksize)",
    "Micron P100 PowerStation (baseline system - 8 KB blocksize)",
    "Micron P100 PowerStation (baseline system - 16 KB blocksize)",
    "Micronics M54Pe 2-P100   (Dual CPU system - 512 byte KB blocksize)",
    "Micronics M54Pe 2-P100   (Dual CPU system - 1 KB blocksize)",
    "Micronics M54Pe 2-P100   (Dual CPU system - 2 KB blocksize)",
    "Micronics M54Pe 2-P100   (Dual CPU system - 4 KB blocksize)",
    "Micronics M54Pe 2-P100   (Dual CPU system - 8 KB blocksize)",
    "Micronics M54Pe 2-P100   (Dual CPU system - 16 KB blocksize)",
    "Motorola PowerStack 604-133 (PPC RISC system - 4 KB blocksize)",
    "Tyan Titan II (P100-Win95)",
    "Acer P5133 clocked @ 150CPU/75bus MHz",
    "Gigabyte i430HX P133 w/ 11disk RAID 0",
    "Gigabyte i430HX P133 w/o RAID 0",
    "Gigabyte i430HX P133 w/ Iomega Jaz",
    "Dell XPS Pro200 i440KX A0 Stepping",
    "Dell XPS Pro200 i440FX B0 Stepping",
};

static_assert(kReferenceRows == reference::kViewerRows);

std::vector<std::string> ReferenceRowLines(int row) {
    std::vector<std::string> lines;
    for (const char* line : reference::ViewerLines(row)) lines.emplace_back(line);
    return lines;
}

bool IsReferenceTitle(const std::string& name) {
    for (int row = 2; row < kReferenceRows; ++row)
        if (name == kReferenceTitles[row]) return true;
    return false;
}

ReferenceDialog::ReferenceDialog(Frame& frame) : QDialog(&frame), list_(new QListWidget(this)) {
    setObjectName(QStringLiteral("SCORES"));
    setWindowTitle(QStringLiteral("Double-Click on an Item"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    list_->setObjectName(QStringLiteral("101"));
    for (const char* title : kReferenceTitles) list_->addItem(QString::fromLatin1(title));
    list_->setCurrentRow(2);
    // Every row in view, the widest whole.
    const int frame_width = 2 * list_->frameWidth();
    list_->setMinimumSize(list_->sizeHintForColumn(0) + frame_width + 8,
                          list_->sizeHintForRow(0) * kReferenceRows + frame_width);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this, &frame](QListWidgetItem* item) { frame.OpenReferenceRow(list_->row(item)); });
}

}  // namespace glance
