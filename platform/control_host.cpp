// Hosting of controls inside the module's windows.
#include "platform/app.h"

void AfxEnableControlContainer() {}
