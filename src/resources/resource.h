// Resource identifiers shared by every language's resource script.
#ifndef RESOURCE_H
#define RESOURCE_H

#define IDS_APP_STATUS_CAPTION 50000

#endif
