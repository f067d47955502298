#pragma once

#include <QWidget>

#include <optional>

class QLabel;

namespace quiro {

class SymbolBadge;

// One side of the call on the permissions page: what it is, what was found (the device, or why
// it cannot be heard) and a mark once it can be heard.
class GrantRow : public QWidget {
public:
    GrantRow(const QString& icon, const QString& title, const QString& detail, QWidget* parent = nullptr);

    // `granted` is empty before the first check. `detail` replaces the line under the title.
    void setStatus(std::optional<bool> granted, const QString& detail);

    QString detail() const;

private:
    SymbolBadge* m_badge;
    QLabel* m_detail;
    SymbolBadge* m_mark;
    QString m_icon;
};

} // namespace quiro
