#pragma once

#include <QWidget>

namespace quiro {

// Home's list before the first call: what will appear here, and how to get there.
class ValleyEmptyState : public QWidget {
    Q_OBJECT
public:
    explicit ValleyEmptyState(QWidget* parent = nullptr);
};

} // namespace quiro
