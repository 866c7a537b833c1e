#pragma once

#include <QObject>

namespace kelto {

// The accessibility settings the kit draws by. Qt offers none of them, so
// they are the application's to set; all are off until it does.
class FenraPreferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool reduceTransparency READ reduceTransparency WRITE setReduceTransparency NOTIFY changed)
    Q_PROPERTY(bool increaseContrast READ increaseContrast WRITE setIncreaseContrast NOTIFY changed)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY changed)

public:
    // The one instance the kit's views read; use it on the main thread.
    static FenraPreferences& shared();

    bool reduceTransparency() const { return reduceTransparency_; }
    bool increaseContrast() const { return increaseContrast_; }
    bool reduceMotion() const { return reduceMotion_; }

    // Each setter signals only when the value changes.
    void setReduceTransparency(bool on);
    void setIncreaseContrast(bool on);
    void setReduceMotion(bool on);

signals:
    void changed();

private:
    FenraPreferences() = default;
    void assign(bool& field, bool value);

    bool reduceTransparency_ = false;
    bool increaseContrast_ = false;
    bool reduceMotion_ = false;
};

}  // namespace kelto
