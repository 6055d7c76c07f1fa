// The program's names and version as the window and the About box show them.
#pragma once

#include <QString>

namespace ver {
inline const QString DisplayName = QStringLiteral("OrvexMc");
inline const QString ProgramName = QStringLiteral("Orvex");
inline const QString Version = QStringLiteral("6.0.6");
inline const QString BuildDate = QStringLiteral("27-Mar-2017");
inline QString WindowTitle() { return DisplayName + QStringLiteral(" v") + Version; }
} // namespace ver
