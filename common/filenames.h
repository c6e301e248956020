#pragma once

#include <QString>

namespace FileNames {

// A name chosen in a save dialog with its suffix (".vcf", ".pdf", ".sqlite") appended unless
// the name already contains it somewhere, in that case: "a.PDF" gets ".pdf", "a.pdf.txt"
// stays as it is.
inline QString withSuffix(const QString &name, const QString &suffix)
{
    return name.contains(suffix, Qt::CaseSensitive) ? name : name + suffix;
}

} // namespace FileNames
