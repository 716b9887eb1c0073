// Must not compile: the engine reaches the window only through scan/views.h.
#include "scan/views.h"

#include "app/CMailvaneDlg.h"
