// Opening or creating the shutdown event named after the working directory.
#include "shutdown_event.h"

#include "event_name.h"

HANDLE OpenShutdownEvent()
{
    // An event another process in this directory already made is shared, in
    // whatever state it is.
    return HolvOpenShutdownEvent();
}
