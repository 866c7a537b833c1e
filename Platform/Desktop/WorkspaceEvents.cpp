#include "Platform/Desktop/WorkspaceEvents.h"
