#pragma once

#include <QWidget>

namespace quiro {

// A screen's heading: a 26-point title over a 13-point subtitle.
class QuiroSectionHeader : public QWidget {
public:
    QuiroSectionHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
};

} // namespace quiro
