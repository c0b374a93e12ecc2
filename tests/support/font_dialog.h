// Accepting the next font dialog as it opens, with nothing changed.
#pragma once

#include <QApplication>
#include <QFontDialog>
#include <QTimer>

namespace kt {

// `opening` receives the font the dialog opened on.
inline void AcceptNextFontDialog(QFont* opening) {
    QTimer::singleShot(0, [opening] {
        if (auto* d = qobject_cast<QFontDialog*>(QApplication::activeModalWidget())) {
            *opening = d->currentFont();
            d->accept();
        }
    });
}

}  // namespace kt
