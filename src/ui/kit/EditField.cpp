#include "ui/kit/EditField.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

namespace quiro {

namespace {
constexpr int fieldPadding = 12;
constexpr int fieldHeight = 40;
constexpr double cornerRadius = 10.0;
} // namespace

EditField::EditField(const QString& label, const QString& placeholder, QWidget* parent)
    : QWidget(parent)
    , m_label(makeLabel(label, Fonts::text(11, QFont::Medium), DS::inkFaint, this))
    , m_edit(new QLineEdit(this))
{
    m_edit->setPlaceholderText(placeholder);
    m_edit->setFrame(false);
    m_edit->setFont(Fonts::text(13));
    m_edit->setFixedHeight(fieldHeight);
    m_edit->setTextMargins(fieldPadding, 0, fieldPadding, 0);
    QPalette palette = m_edit->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, DS::ink);
    palette.setColor(QPalette::PlaceholderText, DS::inkFaint);
    m_edit->setPalette(palette);
    m_edit->installEventFilter(this);
    connect(m_edit, &QLineEdit::textChanged, this, &EditField::textChanged);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_label);
    layout->addWidget(m_edit);
}

QString EditField::text() const
{
    return m_edit->text();
}

void EditField::setText(const QString& text)
{
    m_edit->setText(text);
}

QRectF EditField::fieldRect() const
{
    return QRectF(m_edit->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
}

bool EditField::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        update();
    return QWidget::eventFilter(watched, event);
}

void EditField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(DS::canvas2);
    painter.setPen(QPen(m_edit->hasFocus() ? DS::inkSoft : DS::hairline, 1.0));
    painter.drawRoundedRect(fieldRect(), cornerRadius, cornerRadius);
}

} // namespace quiro
