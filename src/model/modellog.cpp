#include "model/modellog.h"

Q_LOGGING_CATEGORY(lcModel, "hql.model", QtInfoMsg)
