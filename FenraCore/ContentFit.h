#pragma once

#include <functional>

class QWidget;

namespace kelto {

// Keeps a size worked out from what a widget holds (a list box as high as
// its rows, a popup as high as its jobs) in step with it. Qt refreshes the
// sizes it caches for a widget only while it is visible, so rows that
// changed while the box was hidden would keep their old measure: rows cut
// off, or an empty band. `fit` runs again whenever `owner` is shown (the
// content's layout then measured afresh) and whenever the layout of
// `content` has been redone on its request. A fit must not invalidate the
// content's layout itself: that would request the next layout, for ever.
struct ContentFit {
    // The fit lives as long as `owner`. A second call for the same owner
    // replaces the content and the fit.
    static void follow(QWidget& owner, QWidget& content, std::function<void()> fit);
};

}  // namespace kelto
