#pragma once

#include "FenraCore/FenraColor.h"
#include "FenraCore/FenraSymbol.h"

#include <QWidget>

#include <optional>

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
    // Wraps onto at most `lines` lines, the last cut short with an ellipsis.
    // Such a label asks for the width of its whole title on one line, so a
    // layout with room to spare cuts and wraps it only where room lacks.
    void setLineLimit(int lines);
    // The label's text colour then tints the symbol alone; the title takes
    // `titleColor`, or without one the text colour of the label's parent.
    void tintSymbolOnly(const std::optional<FenraColor>& titleColor = std::nullopt);
    QString symbolName() const { return symbolName_; }
    // What the title shows now, cut to its line limit.
    QString shownTitle() const;

    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Named {};
    FenraLabel(const QString& title, const QString& symbolName, QWidget* parent, Named);
    void refreshIcon();
    void refreshTitleColor();
    void fitTitle();

    QString symbolName_;
    QString fullTitle_;
    int lineLimit_ = 0;
    bool symbolOnly_ = false;
    std::optional<FenraColor> titleColor_;
    QLabel* icon_;
    QLabel* title_;
};

}  // namespace kelto
