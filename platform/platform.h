// Platform: the few operating-system services the programs use, by concern:
// files and directories (files.h), processes and this process's state
// (process.h), users and permissions (users.h), directory watching
// (watch.h), local sockets between processes (local_socket.h). How every call reports failure: error.h. This header gathers
// them for callers that use several.
#pragma once

#include "platform/error.h"
#include "platform/files.h"
#include "platform/local_socket.h"
#include "platform/process.h"
#include "platform/unique_fd.h"
#include "platform/users.h"
#include "platform/watch.h"
