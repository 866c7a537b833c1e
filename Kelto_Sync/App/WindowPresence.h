#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace kelto {

// Whether one of the application's own windows is on screen (a "regular"
// application) or none is (it lives in the tray only). Linux has no Dock to
// switch, so this is state: a window of its own becoming shown again raises
// the first visible one. Windows are held weakly and watched through an
// event filter; each change is looked at one turn later, once the window
// system has settled. GUI thread only.
class WindowPresence : public QObject {
    Q_OBJECT
public:
    explicit WindowPresence(QObject* parent = nullptr);

    // Registering the same window again does nothing and returns false.
    // Nothing is registered in render-test mode.
    bool registerWindow(QWidget* window);
    bool isRegular() const { return regular_; }
    // Applies the rule now.
    void update();

signals:
    void regularChanged(bool regular);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleUpdate();

    std::vector<QPointer<QWidget>> windows_;
    bool regular_ = false;
    bool updateScheduled_ = false;
};

}  // namespace kelto
