#pragma once

#include <QLabel>

namespace kelto {

// One line of plain text cut in the middle to the width it is given, so
// both ends of a path stay readable; the tooltip holds the whole text.
class MiddleElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit MiddleElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return fullText_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString fullText_;
};

}  // namespace kelto
