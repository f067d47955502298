#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quiro::service {

// What the app tells the coach about the seller's product — the compiled "product_context" text
// and the "objection_responses" block — read back into parts, and the short hint texts built
// from them.
class ProductHints {
public:
    static constexpr int maxWords = 8;

    struct Competitor {
        QString name;
        QString weakness;
        QString edge;
    };
    struct ObjectionResponse {
        QString key; // upper case, as the app writes it
        QString phrase;
        QString proof;
        QString question;
    };

    ProductHints() = default;
    ProductHints(const QString& productContext, const QString& objectionResponses);

    QString productName() const { return m_productName; }
    const QList<Competitor>& competitors() const { return m_competitors; }
    const QStringList& caseStudies() const { return m_caseStudies; }
    const QStringList& metrics() const { return m_metrics; }
    QString guarantee() const { return m_guarantee; }
    const QList<ObjectionResponse>& objectionResponses() const { return m_responses; }
    QStringList competitorNames() const;

    // The hint for a classified client moment: the seller's own prepared answer when one fits,
    // else one built from the product facts, else the sub-type's plain advice. Never more than
    // eight words; an empty sub-type gives "".
    QString responseFor(const QString& subType, const QString& phrase) const;

    // The fixed advice per sub-type, used when nothing more specific fits.
    static QString genericAdvice(const QString& subType);
    static bool fits(const QString& text);

private:
    const ObjectionResponse* responseMatching(const QString& subType) const;

    QString m_productName;
    QList<Competitor> m_competitors;
    QStringList m_caseStudies;
    QStringList m_metrics;
    QString m_guarantee;
    QList<ObjectionResponse> m_responses;
};

} // namespace quiro::service
