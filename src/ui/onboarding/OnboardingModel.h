#pragma once

#include "audio/HearingCheck.h"
#include "core/AtomicFile.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <array>
#include <functional>
#include <optional>

namespace quiro {

enum class OnboardPage { welcome = 0, permissions = 1, playbook = 2, ready = 3 };

// The state behind the first-run pages: the page shown, whether each side of a call can be heard,
// the progress of the check the user asked for, and the seven fields of the product profile,
// which is written when the user leaves the playbook page. Lives on the GUI thread; the device
// checks never block it.
//
// Linux asks no permission for audio. What decides whether a call can work is whether the
// devices are there and open, so the two "permissions" are the hearing checks: the microphone
// (the default input exists, opens and is not a monitor) and the computer's playback (the default
// output's monitor opens). Each check that fails says why, in the words quiro doctor uses.
class OnboardingModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(quiro::OnboardPage page READ page NOTIFY pageChanged)
    Q_PROPERTY(bool micOK READ micOK NOTIFY micChanged)
    Q_PROPERTY(bool scrOK READ scrOK NOTIFY screenChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(bool askedOnce READ askedOnce NOTIFY askedOnceChanged)
    Q_PROPERTY(bool bothGranted READ bothGranted NOTIFY grantsChanged)

public:
    // The profile's fields, in the order the playbook page shows them.
    enum class Field { productName, valueProp, target, callType, objection1, objection2, objection3 };
    static constexpr int fieldCount = 7;

    // Where the checks come from: the real devices unless a test supplies others.
    struct Probes {
        std::function<QCoro::Task<HearingCheck::Result>()> microphone = &HearingCheck::microphone;
        std::function<QCoro::Task<HearingCheck::Result>()> playback = &HearingCheck::playback;
    };

    explicit OnboardingModel(QObject* parent = nullptr);
    explicit OnboardingModel(Probes probes, QObject* parent = nullptr);

    OnboardPage page() const { return m_page; }
    bool micOK() const { return m_mic.ok; }
    bool scrOK() const { return m_screen.ok; }
    bool checking() const { return m_checking; }
    bool askedOnce() const { return m_askedOnce; }
    bool bothGranted() const { return m_mic.ok && m_screen.ok; }
    // The last result of each check: the device heard, or what is wrong. Empty before the first.
    const HearingCheck::Result& microphone() const { return m_mic; }
    const HearingCheck::Result& playback() const { return m_screen; }

    QString text(Field field) const { return m_fields.at(size_t(field)); }
    void setText(Field field, const QString& text);

    // Why the profile could not be written when the user last left the playbook page; the page
    // stays so that nothing typed is lost.
    std::optional<QString> saveError() const { return m_saveError; }

    // Moves on one page. Leaving the playbook page writes the profile first and stays when that
    // fails. The ready page is the last: nothing happens there.
    void next();
    // Writes ~/.quiroai/profile.json from the seven fields (the four strings always, the
    // objections that are not empty, in order).
    WriteResult savePlaybook();

    // Refreshes both flags from the devices, without anything the user would notice.
    QCoro::Task<> silentCheck();
    QCoro::Task<> checkMic();
    QCoro::Task<> checkScreen();
    // The user's request: both checks in turn, then on to the playbook page when both pass.
    QCoro::Task<> requestAll();

signals:
    void pageChanged();
    void micChanged();
    void screenChanged();
    void grantsChanged();
    void checkingChanged();
    void askedOnceChanged();
    void textChanged(quiro::OnboardingModel::Field field);
    void saveErrorChanged();

private:
    void setResult(HearingCheck::Result& field, HearingCheck::Result result, void (OnboardingModel::*changed)());
    void setChecking(bool checking);
    void setSaveError(std::optional<QString> error);

    Probes m_probes;
    OnboardPage m_page = OnboardPage::welcome;
    HearingCheck::Result m_mic;
    HearingCheck::Result m_screen;
    bool m_checking = false;
    bool m_askedOnce = false;
    std::array<QString, fieldCount> m_fields;
    std::optional<QString> m_saveError;
};

} // namespace quiro
