// Opening or creating the shutdown event named after the working directory.
#include "shutdown_event.h"

#include "event_name.h"

HANDLE OpenShutdownEvent()
{
    char name[EventNameSize];
    ShutdownEventName(name);
    // An event another process in this directory already made is shared, in
    // whatever state it is.
    HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
    if (event)
        return event;
    return CreateEventA(NULL, TRUE, FALSE, name);
}
