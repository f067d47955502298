#pragma once

#include <QWidget>

namespace quiro {

// The centred title and the line under it that open every onboarding page.
class PageHeading : public QWidget {
public:
    PageHeading(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
};

} // namespace quiro
