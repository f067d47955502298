#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

namespace quiro {

// A labelled text field: a small label over a 13-point field on a light rounded ground, whose edge
// darkens while it has the keyboard.
class EditField : public QWidget {
    Q_OBJECT
public:
    EditField(const QString& label, const QString& placeholder, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QLineEdit* lineEdit() const { return m_edit; }

signals:
    void textChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRectF fieldRect() const;

    QLabel* m_label;
    QLineEdit* m_edit;
};

} // namespace quiro
