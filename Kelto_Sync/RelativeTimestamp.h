#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QLabel>

#include "SyncModel/Support/Clock.h"
#include "SyncModel/Support/Date.h"

#include <chrono>

class QTimer;

namespace kelto {

// A moment in words relative to now ("2 minutes ago", "in 5 minutes",
// "now"), in the widget's locale. The words are worked out at each tick,
// every 30 seconds while the label is shown, against the clock's reading at
// that tick; a change of locale rewords the same tick. A moment that has
// passed when it is shown never reads as future, whatever the tick.
// Callers set font, colour and layout around it.
class RelativeTimestamp : public QLabel {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds tickInterval{30};

    explicit RelativeTimestamp(Date date, const Clock& clock = SystemClock::shared(), QWidget* parent = nullptr);

    Date date() const { return date_; }
    void setDate(Date date);

    // One tick: the clock is read again and the text recomputed. The timer
    // calls it; tests drive it directly.
    void tick();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refreshText();

    Date date_;
    const Clock* clock_;
    Date tickedAt_;  // the clock's reading at the latest tick
    QTimer* timer_;
};

}  // namespace kelto
