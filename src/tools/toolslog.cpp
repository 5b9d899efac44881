#include "tools/toolslog.h"

Q_LOGGING_CATEGORY(lcTools, "hql.tools", QtInfoMsg)
