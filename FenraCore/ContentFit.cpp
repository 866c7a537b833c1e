#include "FenraCore/ContentFit.h"

#include <QEvent>
#include <QLayout>
#include <QPointer>
#include <QWidget>

namespace kelto {
namespace {

class Refit : public QObject {
public:
    explicit Refit(QWidget& owner) : QObject(&owner), owner_(&owner) { owner.installEventFilter(this); }

    void watch(QWidget& content, std::function<void()> fit) {
        if (content_) content_->removeEventFilter(this);
        content_ = &content;
        fit_ = std::move(fit);
        content.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A layout request reaches the filter after the layout has been
        // redone, so the sizes read then are current.
        // On show the content is laid out afresh, whatever Qt kept from when
        // it was last visible; the fit itself never asks for a layout of the
        // content, or each layout would bring another.
        const bool shown = watched == owner_ && event->type() == QEvent::Show;
        const bool relaid = watched == content_ && event->type() == QEvent::LayoutRequest;
        if (shown && content_ && content_->layout()) content_->layout()->invalidate();
        if ((shown || relaid) && fit_) fit_();
        return false;
    }

private:
    QWidget* owner_;
    QPointer<QWidget> content_;
    std::function<void()> fit_;
};

}  // namespace

void ContentFit::follow(QWidget& owner, QWidget& content, std::function<void()> fit) {
    Refit* refit = nullptr;
    for (QObject* child : owner.children()) {
        if ((refit = dynamic_cast<Refit*>(child)) != nullptr) break;
    }
    if (refit == nullptr) refit = new Refit(owner);
    refit->watch(content, std::move(fit));
}

}  // namespace kelto
