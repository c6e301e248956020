#include "logging.h"

Q_LOGGING_CATEGORY(lcDb, "pelicard.db")
Q_LOGGING_CATEGORY(lcNet, "pelicard.net")
Q_LOGGING_CATEGORY(lcUi, "pelicard.ui")
