#pragma once

#include <QLoggingCategory>

// Diagnostics of the register and variable model; never shown to the user.
Q_DECLARE_LOGGING_CATEGORY(lcModel)
