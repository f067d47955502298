#pragma once

#include "core/AtomicFile.h"
#include "core/Paths.h"

#include <QString>
#include <QStringList>

namespace quiro {

// The seller's own profile as the onboarding flow and the playbook editor show and write it
// (~/.quiroai/profile.json). The coaching engine reads the same file through ProductContext.
struct ProductProfile {
    static constexpr qsizetype maxObjections = 3;

    QString productName;
    QString valueProp;
    QString targetCustomer;
    QString callType;
    QStringList objections; // at most three, as the editor's three fields

    // Reads the snake-case keys, falling back to the camel-case names of older files
    // ("productName", "valueProp", "target", "callType") and to "objection1".."objection3" when
    // there is no "objections" array. A missing or malformed file gives an empty profile.
    static ProductProfile load(const QString& path = Paths::profileFile());

    // Writes the four strings (always, even empty) and the non-empty objections, in order, as
    // pretty-printed JSON, replacing the file atomically, private (0600). Creates the folder (0700)
    // when missing.
    WriteResult save(const QString& path = Paths::profileFile()) const;

    friend bool operator==(const ProductProfile&, const ProductProfile&) = default;
};

} // namespace quiro
