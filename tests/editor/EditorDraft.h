#pragma once

#include "Kelto_Sync/Editor/EditorSection.h"
#include "tests/support/widgets/QtPrinting.h"
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>

namespace kelto {

inline const QLocale english(QLocale::English, QLocale::UnitedStates);
inline const QLocale german(QLocale::German, QLocale::Germany);

// The editor's side of a section: keeps the reported draft, counts reports
// and hands every new draft back, as the editor does.
struct EditorDraft {
    SyncJob job;
    int reports = 0;
    EditorSection* section = nullptr;
    EditorSection::Report report() {
        return [this](const SyncJob& next) {
            job = next;
            ++reports;
            section->setJob(next);
        };
    }
    template <class Section>
    Section& attach(Section& made, const SyncJob& start) {
        section = &made;
        made.setLocale(english);
        job = start;
        made.setJob(start);
        return made;
    }
};

// Chooses an entry as the user would, which is what `activated` reports.
inline void pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Clicks a switch on its box: a switch with no text of its own is only as large as its box once laid out.
inline void toggle(QAbstractButton* box) {
    box->adjustSize();
    QTest::mouseClick(box, Qt::LeftButton);
}

}  // namespace kelto
