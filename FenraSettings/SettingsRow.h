#pragma once

#include "FenraCore/Binding.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QTimer;
class QVariantAnimation;

namespace kelto {

// A row of a settings form: the title, with the subtitle under it when there
// is one, and the accessory at the trailing side. Both texts are shown
// verbatim and wrap rather than truncate.
//
// While shown, the row follows the settings search query above it
// (`SettingsSearchQuery`): whenever the query changes to one that matches
// its title (never the subtitle) it lights up at once in the kelto colour,
// and 1.5 s later the light fades over 0.2 s, or goes at once under reduce
// motion (`FenraPreferences`). A later query restarts the cycle from its own
// match; a row that comes on screen under a matching query lights up then.
class SettingsRow : public QWidget {
    Q_OBJECT

public:
    static constexpr int holdMilliseconds = 1500;
    static constexpr int fadeMilliseconds = 200;
    static constexpr double litOpacity = 0.18;
    static constexpr double cornerRadius = 6;

    // Calls `accessory` once, here; it may return null for no accessory.
    SettingsRow(const QString& title, const std::optional<QString>& subtitle,
                const std::function<QWidget*()>& accessory, QWidget* parent = nullptr);

    QString title() const { return title_; }
    std::optional<QString> subtitle() const { return subtitle_; }
    QWidget* accessory() const { return accessory_; }

    bool highlighted() const { return highlighted_; }
    // The opacity the light is painted with now.
    double highlightOpacity() const { return opacity_; }

signals:
    void highlightedChanged(bool highlighted);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void follow();
    void light();
    void fade();
    void setHighlighted(bool on);
    void setOpacity(double opacity);

    QString title_;
    std::optional<QString> subtitle_;
    QLabel* subtitleLabel_ = nullptr;
    QWidget* accessory_ = nullptr;
    QPointer<Binding<QString>> query_;
    QMetaObject::Connection queryChanged_;
    QTimer* hold_;
    QVariantAnimation* fadeAnimation_;
    bool highlighted_ = false;
    double opacity_ = 0;
};

}  // namespace kelto
