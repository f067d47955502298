#pragma once

#include <QWidget>

namespace quiro {

// What a list shows while it has nothing: a quiet icon over a line of text.
class QuiroEmptyState : public QWidget {
public:
    QuiroEmptyState(const QString& icon, const QString& text, QWidget* parent = nullptr);
};

} // namespace quiro
