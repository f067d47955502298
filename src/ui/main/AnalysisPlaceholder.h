#pragma once

#include <QWidget>

namespace quiro {

// Where the analysis will be, while it is being made or when there is none.
class AnalysisPlaceholder : public QWidget {
    Q_OBJECT
public:
    enum class Kind {
        loading,     // the service is still analysing the call
        unavailable, // the call was too short, or the service did not answer
    };

    explicit AnalysisPlaceholder(Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace quiro
