// The replication library's anchor: the ID counter is header-only.
#include "server/replication/message_ids.h"
