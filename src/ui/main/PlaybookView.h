#pragma once

#include "coaching/ProductProfile.h"
#include "ui/kit/AnimationDelay.h"

#include <QList>
#include <QWidget>

namespace quiro {

class Banner;
class EditField;
class SaveButton;

// The seller's own product profile, which the coach sends with every hint request: filled from
// the profile file when the tab is shown (unless there are edits not saved yet), written by Save,
// which then reads "Saved" for two seconds. A write that fails keeps the edits and says why.
class PlaybookView : public QWidget {
public:
    static constexpr int savedMs = 2000;

    PlaybookView(QString profileFile, QWidget* parent = nullptr);

    void load();
    WriteResult save();

    ProductProfile profile() const;
    EditField* field(int index) const { return m_fields.at(index); }
    SaveButton* saveButton() const { return m_save; }
    Banner* error() const { return m_error; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_profileFile;
    // Product / company, value proposition, target customer, call type, then three objections.
    QList<EditField*> m_fields;
    SaveButton* m_save;
    Banner* m_error;
    AnimationDelay m_savedDelay;
    bool m_edited = false;
};

} // namespace quiro
