#pragma once

#include "ui/main/AppTab.h"

#include <QList>
#include <QVariantAnimation>
#include <QWidget>

namespace quiro {

class TabPill;

// "Home", "Playbook", "Settings" on a white capsule; the selected tab's ink highlight slides to the
// next one on the kit's spring.
class TabBar : public QWidget {
    Q_OBJECT
public:
    explicit TabBar(QWidget* parent = nullptr);

    AppTab current() const { return m_current; }
    void setCurrent(AppTab tab);
    TabPill* pill(AppTab tab) const;

signals:
    void tabSelected(quiro::AppTab tab);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRectF target() const;

    QList<TabPill*> m_pills;
    AppTab m_current = AppTab::home;
    QRectF m_highlight;
    QVariantAnimation m_slide;
};

} // namespace quiro
