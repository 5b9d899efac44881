#pragma once

#include <QString>

// Date and time of the build, in the forms the window title and the about
// box show ("Jun 26 2019" and "13:12:02").
namespace BuildInfo {

// main() passes the stamp written at build time; until then the compile
// time of the core library is used.
void set(const char *date, const char *time);
QString date();
QString time();

} // namespace BuildInfo
