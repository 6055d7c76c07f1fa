// The configuration file: every setting of the window and of the acquisition
// survives between runs in one INI file.
#pragma once

#include "formats/iqdata.h"
#include "instrument/anastr.h"

#include <QString>

// The folder of the configuration file, derived from the platform's
// per-application data location: the maker's folder is put in front of the
// last component (".../share/OrvexMc" gives ".../share/Halvard/OrvexMc").
QString SettingsFolder(const QString& dataLocation);

// Reads every key into its target, with its default where the key or the file
// is missing. The sample arrays of both records are released: no sample data
// comes from a configuration.
void LoadIniFile(const QString& path, AnaStr* ana, IQDatStr* load, IQDatStr* save,
                 int* tcpPort, int* connectTo, int* x, int* y);
// Writes every key after removing all, so keys written by hand or by an older
// version disappear. A file that cannot be written is silently not updated.
void SaveIniFile(const QString& path, AnaStr ana, IQDatStr load, IQDatStr save,
                 int tcpPort, int connectTo, int x, int y);
