#pragma once

#include <QObject>

namespace kelto {

// The signals of a `Binding`, apart from its value type so that Qt can see
// them. Receivers connected with a context object are dropped with it, and
// so are all of them when the binding goes.
class BindingNotifier : public QObject {
    Q_OBJECT

signals:
    // A write that changed the value.
    void changed();
    // Every write, equal or not, after `changed`.
    void written();

protected:
    BindingNotifier() = default;
};

}  // namespace kelto
