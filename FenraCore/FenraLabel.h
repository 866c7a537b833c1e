#pragma once

#include "FenraCore/FenraSymbol.h"

#include <QWidget>

class QLabel;

namespace kelto {

// A title beside its symbol. The title is shown exactly as given: plain text,
// never looked up in a string table. The symbol is drawn at the text's height
// in the label's text colour, and follows palette and font changes.
class FenraLabel : public QWidget {
    Q_OBJECT

public:
    FenraLabel(const QString& title, const FenraSymbol auto& symbol, QWidget* parent = nullptr)
        : FenraLabel(title, symbolNameOf(symbol), parent, Named{}) {}

    QString title() const;
    // A long title wraps under itself, the symbol staying beside its first line.
    void setWordWrap(bool on);
    QString symbolName() const { return symbolName_; }

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Named {};
    FenraLabel(const QString& title, const QString& symbolName, QWidget* parent, Named);
    void refreshIcon();

    QString symbolName_;
    QLabel* icon_;
    QLabel* title_;
};

}  // namespace kelto
