#pragma once

#include <QColor>
#include <QWidget>

namespace quiro {

// One line of what Quiro will do, on the ready page: a tinted icon and a sentence.
class FeatureRow : public QWidget {
public:
    FeatureRow(const QString& icon, const QString& text, const QColor& color, QWidget* parent = nullptr);
};

} // namespace quiro
