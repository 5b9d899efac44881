# Writes the build stamp header; run at every build so the window title and
# the about box show when the program was built.
string(TIMESTAMP HQL_BUILD_DATE "%b %d %Y")
string(TIMESTAMP HQL_BUILD_TIME "%H:%M:%S")
set(content "#pragma once\n#define HQL_BUILD_DATE \"${HQL_BUILD_DATE}\"\n#define HQL_BUILD_TIME \"${HQL_BUILD_TIME}\"\n#define HQL_VERSION \"${HQL_VERSION}\"\n")
file(WRITE "${OUTPUT}.tmp" "${content}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
