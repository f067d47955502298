#pragma once

#include "ui/kit/Card.h"

class QAbstractButton;
class QLabel;
class QStackedWidget;

namespace quiro {

class SessionController;

// Offers the call that ended without being saved (a crash, a failed save): "Save to history", or
// "Discard" after a second, explicit confirmation, since a discarded call is gone for good. Shown
// only while the controller holds such a call; a save that fails leaves it here, and the
// controller's alert says why.
class RecoveryPrompt : public Card {
public:
    explicit RecoveryPrompt(SessionController& controller, QWidget* parent = nullptr);

    QString message() const;
    QAbstractButton* saveButton() const { return m_save; }
    QAbstractButton* discardButton() const { return m_discard; }
    QAbstractButton* confirmDiscardButton() const { return m_confirmDiscard; }
    QAbstractButton* keepButton() const { return m_keep; }

private:
    void refresh();
    void confirming(bool asking);

    SessionController& m_controller;
    QLabel* m_message;
    QStackedWidget* m_actions;
    QAbstractButton* m_save;
    QAbstractButton* m_discard;
    QAbstractButton* m_confirmDiscard;
    QAbstractButton* m_keep;
};

} // namespace quiro
