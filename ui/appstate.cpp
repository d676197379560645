#include "ui/appstate.h"

AppState g_app;
