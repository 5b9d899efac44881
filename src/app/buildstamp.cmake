# Writes the build stamp header, so the window title and the about box show
# when the program was built. Run only when the program is rebuilt.
string(TIMESTAMP HQL_BUILD_DATE "%b %d %Y")
string(TIMESTAMP HQL_BUILD_TIME "%H:%M:%S")
file(WRITE "${OUTPUT}" "#pragma once\n#define HQL_BUILD_DATE \"${HQL_BUILD_DATE}\"\n#define HQL_BUILD_TIME \"${HQL_BUILD_TIME}\"\n#define HQL_VERSION \"${HQL_VERSION}\"\n")
