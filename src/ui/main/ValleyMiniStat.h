#pragma once

#include <QWidget>

namespace quiro {

// One headline figure of the debrief ("62%" over "you spoke"), in red when it is a warning.
class ValleyMiniStat : public QWidget {
    Q_OBJECT
public:
    ValleyMiniStat(const QString& label, const QString& value, bool warn, QWidget* parent = nullptr);

    QString value() const { return m_value; }
    bool warns() const { return m_warn; }

private:
    QString m_value;
    bool m_warn;
};

} // namespace quiro
