#include "ui/onboarding/LoginView.h"

#include "account/AuthManager.h"
#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/DawnCard.h"
#include "ui/kit/EditField.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/ValleyBackground.h"
#include "ui/onboarding/BrandPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QShortcut>
#include <QVBoxLayout>

namespace quiro {

namespace {
constexpr int formWidth = 420; // "Create your account" fits on one line at the display size
constexpr int brandWidth = 440;
} // namespace

LoginView::LoginView(AuthManager& auth, QWidget* parent)
    : QWidget(parent)
    , m_auth(auth)
    , m_title(makeLabel({}, Fonts::display(24), DS::ink, this))
    , m_subtitle(makeLabel({}, Fonts::text(13.5), DS::inkSoft, this))
    , m_name(new EditField(QStringLiteral("Name"), QStringLiteral("Your name"), this))
    , m_email(new EditField(QStringLiteral("Email"), QStringLiteral("you@company.com"), this))
    , m_password(new EditField(QStringLiteral("Password"), QStringLiteral("Your password"), this))
    , m_errorLabel(makeLabel({}, Fonts::text(12.5, QFont::Medium), DS::clay, this))
    , m_submit(new AccentButton({}, QStringLiteral("arrow.right"), this))
    , m_switchPrompt(makeLabel({}, Fonts::text(13), DS::inkSoft, this))
    , m_switch(new QuietButton({}, this))
{
    m_password->lineEdit()->setEchoMode(QLineEdit::Password);
    m_email->lineEdit()->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    m_errorLabel->setWordWrap(true);

    auto* card = new DawnCard(this);
    QVBoxLayout* form = card->contentLayout();
    form->setSpacing(0);
    form->addWidget(m_title);
    form->addSpacing(6);
    form->addWidget(m_subtitle);
    form->addSpacing(24);
    for (EditField* field : {m_name, m_email, m_password}) {
        field->setParent(card);
        form->addWidget(field);
        form->addSpacing(14);
    }
    form->addSpacing(-8);
    form->addWidget(makeLabel(QStringLiteral("at least %1 characters").arg(minimumPasswordLength), Fonts::text(11),
                              DS::inkFaint, card));
    form->addSpacing(12);
    form->addWidget(m_errorLabel);
    form->addSpacing(12);
    form->addWidget(m_submit);
    form->addSpacing(14);
    auto* switchRow = new QHBoxLayout;
    switchRow->setSpacing(2);
    switchRow->addStretch(1);
    switchRow->addWidget(m_switchPrompt);
    switchRow->addWidget(m_switch);
    switchRow->addStretch(1);
    form->addLayout(switchRow);
    card->setFixedWidth(formWidth);

    auto* formSide = new ValleyBackground(this);
    auto* centred = new QVBoxLayout(formSide);
    centred->addStretch(1);
    centred->addWidget(card, 0, Qt::AlignHCenter);
    centred->addStretch(1);

    auto* brand = new BrandPanel(this);
    brand->setFixedWidth(brandWidth);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(formSide, 1);
    layout->addWidget(brand);

    for (EditField* field : {m_name, m_email, m_password}) {
        connect(field, &EditField::textChanged, this, &LoginView::refresh);
        connect(field->lineEdit(), &QLineEdit::returnPressed, this, &LoginView::submit);
    }
    connect(m_submit, &QAbstractButton::clicked, this, &LoginView::submit);
    connect(m_switch, &QAbstractButton::clicked, this, [this] { setRegister(!m_register); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] { setError(std::nullopt); });
    refresh();
    setFocusProxy(m_email);
}

void LoginView::setRegister(bool isRegister)
{
    if (m_register == isRegister)
        return;
    m_register = isRegister;
    // An error about the other form would only confuse.
    setError(std::nullopt);
    refresh();
    (m_register ? m_name : m_email)->lineEdit()->setFocus();
}

bool LoginView::canSubmit() const
{
    return !m_email->text().trimmed().isEmpty() && m_password->text().size() >= minimumPasswordLength && !m_busy;
}

void LoginView::submit()
{
    if (!canSubmit())
        return;
    // Nothing waits for it: the request checks that this view still exists when it returns.
    [[maybe_unused]] QCoro::Task<> request = runSubmit();
}

QCoro::Task<> LoginView::runSubmit()
{
    const QPointer<LoginView> self = this;
    const bool registering = m_register;
    setError(std::nullopt);
    setBusy(true);
    // Pasted addresses often carry a blank at either end; the password is taken exactly as typed.
    const QString email = m_email->text().trimmed();
    const QString password = m_password->text();
    // Two statements rather than one conditional expression: g++ 12 mishandles the temporaries of
    // a co_await inside ?: .
    std::optional<AuthError> failure;
    if (registering)
        failure = co_await m_auth.registerAccount(email, password, m_name->text().trimmed());
    else
        failure = co_await m_auth.login(email, password);
    if (!self)
        co_return;
    setBusy(false);
    if (failure)
        setError(failure->message());
    else if (registering)
        emit registered();
    else
        emit loggedIn();
}

void LoginView::setBusy(bool busy)
{
    m_busy = busy;
    refresh();
}

void LoginView::setError(std::optional<QString> error)
{
    m_error = std::move(error);
    m_errorLabel->setText(m_error.value_or(QString()));
    m_errorLabel->setVisible(m_error.has_value());
}

void LoginView::refresh()
{
    m_title->setText(m_register ? QStringLiteral("Create your account") : QStringLiteral("Welcome back"));
    m_subtitle->setText(m_register ? QStringLiteral("A quiet companion for important calls.")
                                   : QStringLiteral("Sign in to keep coaching your calls."));
    m_name->setVisible(m_register);
    if (m_busy)
        m_submit->setText(m_register ? QStringLiteral("Creating account…") : QStringLiteral("Signing in…"));
    else
        m_submit->setText(m_register ? QStringLiteral("Create account") : QStringLiteral("Continue"));
    m_submit->setEnabled(canSubmit());
    m_submit->update();
    m_switchPrompt->setText(m_register ? QStringLiteral("Already with us?") : QStringLiteral("First time here?"));
    m_switch->setText(m_register ? QStringLiteral("Sign in") : QStringLiteral("Create an account"));
    m_switch->setEnabled(!m_busy);
    m_switch->updateGeometry();
}

} // namespace quiro
